// Command line of plexa-host (core side: no Win32).
//
// [X] --desktop FILE, --plugin PATH, --frames N, --screenshot FILE.png,
//     --size WxH, --click F,KIND,X,Y[,X2,Y2|,ID] (repeatable), --color R,G,B,
//     --open-file NAME, --menu-screenshot FILE.png, --help; "--name value" and "--name=value"
//     both work
// [X] every refusal names the option and what it wanted
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace plexa::refhost {

// A click the host gives itself, so that headless runs can drive picking,
// moving objects with the mouse and the forwarding of mouse messages to the
// plug-in.
struct ScriptedClick {
    enum class Kind { Left, Right, ShiftRight, Double, Drag };
    uint32_t afterFrame = 0;  // posted once this many frames have been drawn
    Kind kind = Kind::Left;
    int x = 0;  // client coordinates, origin top left
    int y = 0;
    int toX = 0;  // Drag: where the left button is let go
    int toY = 0;
    // Right and ShiftRight: the command id to pick from the menu the click
    // opens, or -1 to close it unchosen.
    long menuChoice = -1;
};

struct HostOptions {
    std::string desktopPath = "desktop.txt";
    // Empty: plexa.dll beside the executable.
    std::string pluginPath;
    // 0: run until the window is closed (interactive). Otherwise run that many
    // frames, then shut down as if the window had been closed, with modal
    // dialogs dismissed automatically.
    uint32_t frames = 0;
    std::string screenshotPath;
    int width = 800;
    int height = 600;
    std::vector<ScriptedClick> clicks;  // in command-line order
    // What the colour dialog is answered with in a non-interactive run;
    // without it the dialog's OK takes the colour it opened on.
    bool hasColourAnswer = false;
    uint8_t colourAnswer[3] = {0, 0, 0};
    // Typed into the open-file dialog's file-name field in a non-interactive
    // run; empty: the dialog's OK takes whatever name it shows.
    std::string openFileAnswer;
    // Captured from the screen while the first popup menu of the run is open.
    std::string menuScreenshotPath;
    bool help = false;
};

struct CommandLineResult {
    HostOptions options;
    std::string error;  // empty when the command line was accepted
};

// args excludes the program name.
CommandLineResult parseCommandLine(const std::vector<std::string>& args);

std::string usageText();

// Exit codes, documented in the usage text and the README.
enum ExitCode : int {
    kExitOk = 0,
    kExitRunFailed = 1,      // the desktop or the screenshot could not be written
    kExitUsage = 2,
    kExitPluginMissing = 3,  // the library or one of its exports is missing
    kExitNoWindow = 4,       // no window or no OpenGL context
    kExitPluginCrashed = 70,
};

}  // namespace plexa::refhost
