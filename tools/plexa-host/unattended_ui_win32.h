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
// [X] the colour dialog: a colour given beforehand is set in the dialog
//     itself before its OK, so it leaves through the dialog's own result
// [X] popup menus: every item printed with its id and state when the menu
//     opens, then the menu is ended with nothing chosen, or the item asked
//     for is picked through the menu's own keyboard handling
// [X] a picture of the screen under a window and the open menu, taken while
//     the menu waits for input
// [X] the open-file dialog: a file name given beforehand is typed into its
//     file-name field before its OK
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <windows.h>

namespace plexa::refhost {

// All act on the calling thread only; install before the first export call.
bool installUnattendedUi();
void removeUnattendedUi();

// The next popup menu to open picks the item with this command id instead of
// closing unchosen.
void pickInNextMenu(unsigned commandId);
// A pick that no menu took since pickInNextMenu; cleared by the call.
bool takeUnusedMenuPick(unsigned* commandId);

void answerColourDialogWith(uint8_t red, uint8_t green, uint8_t blue);
// Every open-file dialog of the run gets this name in its file-name field.
void answerOpenFileDialogWith(const std::string& name);

// While the next popup menu is open: the screen under `window`'s client area
// and the menu, saved as a PNG at `path`. menuCaptureResult tells whether it
// was taken (false too while no menu has opened yet).
void captureNextMenu(HWND window, const std::string& path);
bool menuCaptureResult();

size_t answeredDialogCount();
size_t closedMenuCount();
size_t chosenMenuItemCount();

}  // namespace plexa::refhost
