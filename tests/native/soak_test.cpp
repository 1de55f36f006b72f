// Hundreds of bind, refresh, edit, draw and unbind cycles of the core, the
// calls the exports and the menu commands make. Under AddressSanitizer,
// LeakSanitizer reports at exit whatever a cycle failed to free; the recording
// GL context shows every display-list name given back and the texture cache
// unchanged.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "geometry/skin.h"
#include "host/instance_table.h"
#include "image/caches.h"
#include "render/draw.h"
#include "render/gl.h"
#include "render/transform.h"
#include "tests/native/gl_recorder.h"
#include "tests/native/test_support.h"

namespace plexa::testing {
namespace {

namespace od = host::object_data;

constexpr const char* kMaterial = "soak\\quad.bmp";
constexpr const char* kSkins[2] = {"soak\\bumps.bmp", "soak\\bumps.jpg"};

// The images the scenes name, in the library's caches as their loads leave them.
void cacheImages() {
    if (!image::textureCache().findByName(kMaterial)) {
        const uint8_t pixels[4 * 4 * 3] = {};
        image::textureCache().append(image::createTexture(kMaterial, 4, 4, pixels, GL_RGB));
    }
    for (const char* name : kSkins) {
        if (image::skinCache().findByName(name)) continue;
        auto entry = image::makeEntry(name, 8, 8);
        entry->heights.reset(new float[64]);
        for (int i = 0; i < 64; ++i) entry->heights[i] = static_cast<float>(i % 7) / 6.0f;
        entry->id = static_cast<uint32_t>(image::skinCache().count() + 1);
        image::skinCache().append(std::move(entry));
    }
}

// What a menu command does to the selected block, as the command window does it.
void edit(scene::Block& block, int command) {
    const auto reskin = [&](int64_t skin) {
        geometry::applySkin(block, skin);
        render::refresh(block);
    };
    switch (command % 8) {
        case 0: if (block.makeFiner()) reskin(-1); break;
        case 1: block.kind = block.kind == scene::PLANE ? scene::SPHERE : scene::PLANE; block.rebuildMesh(); reskin(-1); break;
        case 2: block.skinScale = -block.skinScale; reskin(-1); break;
        case 3: if (block.makeRougher()) reskin(-1); break;
        case 4: block.density *= 2.0f; render::refresh(block); break;
        case 5: block.textureId = 0; render::refresh(block); break;
        case 6: reskin(0); break;
        case 7: block.translucency = block.translucency > 0 ? 0.0f : 1.0f; break;
    }
}

class CoreSoak : public InTempDir {};

TEST_F(CoreSoak, CyclesGiveBackEverythingButTheCaches) {
    gl().keepCalls = false;   // counts only, over thousands of lists
    cacheImages();
    const size_t textures = gl().liveTextures.size();
    host::InstanceTable table;
    struct ObjectData {
        uint8_t bytes[512];
    } data[3];
    int nextEdit = 0;
    for (int cycle = 0; cycle < 600; ++cycle) {
        const int count = 1 + cycle % 3;
        for (int i = 0; i < count; ++i) {
            // Several lines: binding keeps the first sphere or plane only.
            writeFile("defplx0" + std::to_string(i) + ".880",
                      std::string("880\n") + (i % 2 ? "PLANE8" : "SPHERE8") + " TEXTURE[" + kMaterial + "] SKIN[" +
                          kSkins[(cycle + i) % 2] + "] SKINSCALE[0.25]\nCUBE\nSPHERE6\n");
            std::memset(data[i].bytes, 0, sizeof data[i].bytes);
            std::memcpy(data[i].bytes + od::kTagOffset, "PLX", 4);
            host::HostInstanceInfo info{};
            info.key = i + 1;
            info.objectData = data[i].bytes;
            host::PluginInstance& instance = table.add(info);
            table.setCurrent(&instance);
            host::startInstance(instance, &table);
        }
        for (int e = 0; e < 3; ++e) edit(*table.current()->scene->selected, nextEdit++);
        for (int i = 0; i < count; ++i) {
            render::drawScene(*table.at(i)->scene);
            render::drawPickLists(*table.at(i)->scene);
        }
        ASSERT_EQ(gl().liveLists.size(), 2u * static_cast<size_t>(count)) << "cycle " << cycle;
        for (int i = 0; i < count; ++i) {
            host::PluginInstance* instance = table.findByKey((cycle + i) % count + 1);
            ASSERT_NE(instance, nullptr);
            ASSERT_TRUE(instance->scene->save(instance->sceneFileName));
            table.removeAt(instance->number);
        }
        ASSERT_EQ(table.count(), 0);
        ASSERT_TRUE(gl().liveLists.empty()) << "cycle " << cycle;
    }
    EXPECT_EQ(gl().liveTextures.size(), textures);
}

}  // namespace
}  // namespace plexa::testing
