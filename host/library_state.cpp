#include "host/library_state.h"

#include "host/instance_table.h"
#include "image/caches.h"

namespace plexa {

namespace {

// One object so that construction at library load runs skins, textures, then
// instances, and unload destroys them in the reverse order: scenes go before
// the textures their blocks name.
struct Library {
    image::Cache skins{false};
    image::Cache textures{true};
    host::InstanceTable instances;
    host::LibraryState state;
};

Library g_library;

}  // namespace

namespace host {
LibraryState& library() { return g_library.state; }
InstanceTable& instances() { return g_library.instances; }
}  // namespace host

namespace image {
Cache& skinCache() { return g_library.skins; }
Cache& textureCache() { return g_library.textures; }
}  // namespace image

}  // namespace plexa
