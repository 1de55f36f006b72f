// Answers the user interface by itself in non-interactive runs (platform
// side).
//
// The plug-in greets every new object with an About box, may report problems
// in message boxes and opens its popup menu on a right click; the host's
// colour chooser and its own menu are modal too. With nobody at the screen
// each of those would wait forever, so hooks on the host's thread print what
// was shown and close it:
//
// [X] message boxes and common dialogs (class #32770): caption and text
//     printed, IDOK posted
// [X] a dialog still up after IDOK (say, a file chooser refusing the name)
//     gets IDCANCEL on its next activation
// [X] popup menus: every item printed with its id and state when the menu
//     opens, then the menu is ended with nothing chosen
// [ ] choosing a menu item or typing into a dialog
#pragma once

#include <cstddef>

namespace plexa::refhost {

// Both act on the calling thread only; install before the first export call.
bool installUnattendedUi();
void removeUnattendedUi();
size_t answeredDialogCount();
size_t closedMenuCount();

}  // namespace plexa::refhost
