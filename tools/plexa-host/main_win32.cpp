// plexa-host: the reference host program for the Plexa plug-in.
// See README.md beside this file.

#include "command_line.h"
#include "host_app_win32.h"

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    using namespace plexa::refhost;
    std::vector<std::string> args(argv + 1, argv + argc);
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
