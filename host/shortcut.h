// Opening a block's shortcut file through the shell (platform side).
#pragma once

#include <cstdint>

namespace plexa::host {

struct PluginInstance;
}

namespace plexa::scene {
struct Block;
}

namespace plexa::host {

// "ShortCut to..": the system's file chooser; a confirmed name replaces the
// block's shortcut, stored relative to the plug-in directory where it can be.
void chooseShortcut(scene::Block& block, void* owner);
// "No ShortCut".
void clearShortcut(scene::Block& block);

// The double click on an object: 1 when its selected block has a shortcut (opened,
// or reported with "! Cannot Open"), 0 so that the host handles the click itself.
int32_t openShortcut(PluginInstance& instance);

}  // namespace plexa::host
