// plexa-host: the reference host program for the Plexa plug-in.
// See README.md beside this file.

#include "command_line.h"
#include "desktop_file.h"
#include "host_app_win32.h"

#include <cstdio>
#include <string>
#include <vector>

#include <windows.h>
#include <shellapi.h>

namespace {

bool usable(HANDLE handle) {
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// A Windows program gets no console: started from Explorer it opens no console
// window beside the desktop. Whoever started it with pipes or files as its
// standard handles (a test, a script, `> log.txt`) has them already; started
// from a command prompt, it prints into that prompt's console instead.
void connectStandardOutput() {
    const bool out = usable(GetStdHandle(STD_OUTPUT_HANDLE));
    const bool err = usable(GetStdHandle(STD_ERROR_HANDLE));
    if (out && err) return;
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    if (!out) std::freopen("CONOUT$", "w", stdout);
    if (!err) std::freopen("CONOUT$", "w", stderr);
    // The prompt has already printed its next line: start below it.
    std::fputc('\n', out ? stderr : stdout);
}

}  // namespace

int main(int argc, char** argv) {
    using namespace plexa::refhost;
    connectStandardOutput();
    // The wide command line: a folder name the ANSI code page cannot spell
    // arrives whole, as UTF-8 like every file name the host keeps.
    std::vector<std::string> args;
    int count = 0;
    if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count)) {
        for (int i = 1; i < count; ++i) args.push_back(utf8Of(wide[i]));
        LocalFree(wide);
    } else {
        args.assign(argv + 1, argv + argc);
    }
    CommandLineResult parsed = parseCommandLine(args);
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "plexa-host: %s\n\n%s", parsed.error.c_str(), usageText().c_str());
        return kExitUsage;
    }
    if (parsed.options.help) {
        std::fputs(usageText().c_str(), stdout);
        return kExitOk;
    }
    HostApp app(parsed.options);
    return app.run();
}
