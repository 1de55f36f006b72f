// Opening a block's shortcut file through the shell (platform side).
#pragma once

#include <cstdint>

namespace plexa::host {

struct PluginInstance;

// The double click on an object: 1 when its selected block has a shortcut (opened,
// or reported with "! Cannot Open"), 0 so that the host handles the click itself.
int32_t openShortcut(PluginInstance& instance);

}  // namespace plexa::host
