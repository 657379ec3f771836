// kavrel: the live-video viewer. The server and texts come from config.txt
// and the user's settings; the command line only chooses how to start
// (kavrel --help).

#include <cstdio>
#include <string>
#include <vector>

#include "app/COrvaneApp.h"
#include "app/CommandLine.h"
#include "platform/ReturnableHeap.h"

int main(int argc, char** argv) {
    // Before QApplication, which needs a display: --help and --version must
    // answer without one.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const std::string program = argc > 0 ? argv[0] : "kavrel";
    const kavrel::CommandLine options = kavrel::ParseCommandLine(arguments);
    switch (options.action) {
        case kavrel::CommandLine::Action::ShowHelp:
            std::fputs(kavrel::UsageText(program).c_str(), stdout);
            return 0;
        case kavrel::CommandLine::Action::ShowVersion:
            std::puts(kavrel::VersionText().c_str());
            return 0;
        case kavrel::CommandLine::Action::BadUsage:
            std::fprintf(stderr, "%s: %s\n%s", program.c_str(), options.error.c_str(),
                         kavrel::UsageText(program).c_str());
            return 2;
        case kavrel::CommandLine::Action::Run:
            break;
    }
    kavrel::KeepLargeBlocksReturnable();
    kavrel::COrvaneApp app(argc, argv);
    return app.Run(options, arguments);
}
