// The hidden window that owns the popup menu and the plug-in's message boxes
// and receives their commands (platform side; handles are opaque here).
//
// [X] class "Plexa", hidden WS_POPUP window owned by the host window
// [X] menu "PopMenu" loaded at creation, destroyed with the window
// [X] menu commands, Help and About; every edit saved as it is made
#pragma once

#include "host/instance_table.h"

namespace plexa::host {

// Posted to the command window: tells the user where scenes are kept while
// the host folder cannot be written.
constexpr unsigned kPerUserNoticeCommand = 42;

// Registers the class (an existing one is fine) and creates the hidden window.
void* createCommandWindow();
void destroyCommandWindow();

// Saves the instance's scene in the host directory, wherever the process is,
// and returns to the directory it was in. False when it was not saved.
bool saveInHostDirectory(PluginInstance& instance, SaveMoment moment);

// Saves an edit of the instance's selected block when it changed what the
// scene file would hold; `before` is the block's line before the edit.
void saveIfChanged(PluginInstance& instance, const char* before);

}  // namespace plexa::host
