// The hidden window that owns the popup menu and the plug-in's message boxes
// and receives their commands (platform side; handles are opaque here).
//
// [X] class "Plexa", hidden WS_POPUP window owned by the host window
// [X] menu "PopMenu" loaded at creation, destroyed with the window
// [ ] menu commands, Help and About (arrive with the popup menu)
#pragma once

namespace plexa::host {

// Registers the class (an existing one is fine) and creates the hidden window.
void* createCommandWindow();
void destroyCommandWindow();

}  // namespace plexa::host
