// The terminal program: the relay control driven from a terminal instead of the window.
#include <csignal>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "app/cli/cli_app.h"
#include "platform/messages.h"

int main(int argc, char* argv[]) {
    corvane::platform::UseUnixEventLoop();
    // A reader of standard output that goes away must not end the relay: the write then
    // fails with EPIPE and the output is dropped from then on.
    std::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        args.emplace_back(argv[i]);
    }
    corvane::cli::CliApp cli(corvane::cli::DetectTerminal());
    return cli.Run(args);
}
