#include "command_line.h"

#include <cerrno>
#include <cstdlib>

namespace plexa::refhost {

namespace {

bool parseCount(const std::string& text, uint32_t* out) {
    if (text.empty() || text[0] < '0' || text[0] > '9') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFull) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool parseSize(const std::string& text, int* width, int* height) {
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos) return false;
    uint32_t w = 0, h = 0;
    if (!parseCount(text.substr(0, x), &w) || !parseCount(text.substr(x + 1), &h)) return false;
    // Small enough for a screenshot to stay within the PNG writer's limits
    // and for glReadPixels' buffer to stay modest.
    if (w < 16 || h < 16 || w > 8192 || h > 8192) return false;
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
}

bool parseClick(const std::string& text, ScriptedClick* click) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (parts.size() < 2) return false;
    const std::string& kind = parts[1];
    // A drag names where it starts and where it ends; a right click may name
    // the menu item to pick.
    const bool opensMenu = kind == "right" || kind == "shift-right";
    if (parts.size() != (kind == "drag" ? 6u : 4u) && !(opensMenu && parts.size() == 5u)) return false;
    uint32_t choice = 0;
    // Menu command ids are 16 bits wide.
    if (parts.size() == 5u && (!parseCount(parts[4], &choice) || choice > 0xFFFF)) return false;
    uint32_t frame = 0, point[4] = {0, 0, 0, 0};
    if (!parseCount(parts[0], &frame)) return false;
    for (size_t i = 2; i < parts.size() && (i < 4 || kind == "drag"); ++i) {
        // Mouse messages carry 16-bit coordinates.
        if (!parseCount(parts[i], &point[i - 2]) || point[i - 2] > 0x7FFF) return false;
    }
    if (kind == "drag") {
        click->kind = ScriptedClick::Kind::Drag;
    } else if (kind == "left") {
        click->kind = ScriptedClick::Kind::Left;
    } else if (kind == "right") {
        click->kind = ScriptedClick::Kind::Right;
    } else if (kind == "shift-right") {
        click->kind = ScriptedClick::Kind::ShiftRight;
    } else if (kind == "double") {
        click->kind = ScriptedClick::Kind::Double;
    } else {
        return false;
    }
    click->afterFrame = frame;
    click->x = static_cast<int>(point[0]);
    click->y = static_cast<int>(point[1]);
    click->toX = static_cast<int>(point[2]);
    click->toY = static_cast<int>(point[3]);
    click->menuChoice = parts.size() == 5u ? static_cast<long>(choice) : -1;
    return true;
}

bool parseColour(const std::string& text, uint8_t rgb[3]) {
    size_t start = 0;
    for (int i = 0; i < 3; ++i) {
        size_t comma = text.find(',', start);
        if ((i < 2) != (comma != std::string::npos)) return false;
        uint32_t value = 0;
        if (!parseCount(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start), &value) ||
            value > 255)
            return false;
        rgb[i] = static_cast<uint8_t>(value);
        start = comma + 1;
    }
    return true;
}

}  // namespace

CommandLineResult parseCommandLine(const std::vector<std::string>& args) {
    CommandLineResult result;
    HostOptions& options = result.options;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        if (name == "--help" || name == "-h" || name == "/?") {
            options.help = true;
            continue;
        }
        bool takesValue = name == "--desktop" || name == "--plugin" || name == "--frames" ||
                          name == "--screenshot" || name == "--size" || name == "--click" ||
                          name == "--color" || name == "--open-file" || name == "--menu-screenshot";
        if (!takesValue) {
            result.error = "unknown option " + args[i];
            return result;
        }
        if (!hasValue) {
            if (i + 1 >= args.size()) {
                result.error = name + " needs a value";
                return result;
            }
            value = args[++i];
        }
        if (name == "--open-file") {
            if (value.empty()) {
                result.error = "--open-file needs a file name";
                return result;
            }
            options.openFileAnswer = value;
        } else if (name == "--desktop" || name == "--plugin" || name == "--screenshot" || name == "--menu-screenshot") {
            if (value.empty()) {
                result.error = name + " needs a file name";
                return result;
            }
            (name == "--desktop"      ? options.desktopPath
             : name == "--plugin"     ? options.pluginPath
             : name == "--screenshot" ? options.screenshotPath
                                      : options.menuScreenshotPath) = value;
        } else if (name == "--color") {
            if (!parseColour(value, options.colourAnswer)) {
                result.error = "--color wants RED,GREEN,BLUE, each 0 to 255, not \"" + value + "\"";
                return result;
            }
            options.hasColourAnswer = true;
        } else if (name == "--frames") {
            if (!parseCount(value, &options.frames)) {
                result.error = "--frames wants a whole number of frames (0 = until the window is closed), not \"" + value + "\"";
                return result;
            }
        } else if (name == "--click") {
            ScriptedClick click;
            if (!parseClick(value, &click)) {
                result.error = "--click wants FRAME,KIND,X,Y with KIND left, right, shift-right or double, "
                               "FRAME,right,X,Y,ID or FRAME,shift-right,X,Y,ID, or FRAME,drag,X,Y,X2,Y2, not \"" +
                               value + "\"";
                return result;
            }
            options.clicks.push_back(click);
        } else if (name == "--size") {
            if (!parseSize(value, &options.width, &options.height)) {
                result.error = "--size wants WIDTHxHEIGHT, each 16 to 8192, not \"" + value + "\"";
                return result;
            }
        }
    }
    // Both act on menus and dialogs, which only non-interactive runs answer
    // by themselves; the host's own right click for the capture needs a frame
    // drawn first, to know where the objects are.
    if (!options.menuScreenshotPath.empty() && options.frames < 2 && !options.help) {
        result.error = "--menu-screenshot needs a run of --frames 2 or more";
        return result;
    }
    return result;
}

std::string usageText() {
    return "usage: plexa-host [options]\n"
           "\n"
           "Reference host for the Plexa render plug-in: opens a window with an OpenGL\n"
           "context, loads the plug-in, binds every object of a desktop file to it,\n"
           "draws them, forwards clicks, and on exit unbinds them and saves the desktop.\n"
           "\n"
           "  --desktop FILE      desktop file to read and to write back at exit\n"
           "                      (default desktop.txt; a missing file gives a sample)\n"
           "  --plugin PATH       plug-in library (default plexa.dll beside plexa-host.exe)\n"
           "  --frames N          run N frames, then shut down as if the window was closed;\n"
           "                      dialogs are answered with OK, menus closed unchosen\n"
           "                      (unless --click names an item), both printed\n"
           "                      (default 0: run until the window is closed)\n"
           "  --screenshot FILE   save the last frame as a PNG at exit\n"
           "  --size WxH          window client size (default 800x600)\n"
           "  --click F,KIND,X,Y  after F frames, click at client point X,Y; KIND is\n"
           "                      left, right, shift-right or double (repeatable)\n"
           "  --click F,right,X,Y,ID  (or shift-right)\n"
           "                      right click as above; in a --frames run, pick the item\n"
           "                      with command id ID from the menu it opens (the plug-in's\n"
           "                      Undo is 102, its Redo 103)\n"
           "  --click F,drag,X,Y,X2,Y2\n"
           "                      after F frames, drag with the left button from X,Y to\n"
           "                      X2,Y2\n"
           "  --color R,G,B       in a --frames run, the colour dialog is answered with\n"
           "                      this colour (each 0 to 255) before its OK\n"
           "  --open-file NAME    in a --frames run, NAME is typed into the file-name field\n"
           "                      of each open-file dialog before its OK\n"
           "  --menu-screenshot FILE\n"
           "                      in a --frames run, capture the screen under the window\n"
           "                      and the first popup menu while it is open, as a PNG;\n"
           "                      without a scripted right click the host right-clicks\n"
           "                      the object nearest the window's centre after frame 1\n"
           "  --help              this text\n"
           "\n"
           "Mouse: right click an object for the plug-in's menu, Shift+right click or a\n"
           "right click on empty space for the host's menu, double click to open an\n"
           "object's shortcut. Drag an object with the left button to move it over the\n"
           "floor. A left click selects an object; the arrow keys then move it over the\n"
           "floor (Up moves it away), Page Up and Page Down raise and lower it.\n"
           "\n"
           "Exit codes: 0 done, 1 desktop or screenshot not written, 2 bad command line,\n"
           "3 plug-in or one of its exports missing, 4 no window or OpenGL context,\n"
           "70 the plug-in crashed.\n";
}

}  // namespace plexa::refhost
