// The terminal program: the relay control driven from a terminal instead of the window.
#include <fcntl.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include <QCoreApplication>

#include "app/cli/cli_app.h"
#include "app/cli/cli_arguments.h"
#include "app/cli/follow_command.h"
#include "control/command_line.h"
#include "platform/epoll_dispatcher.h"

namespace {

// A program started with standard input, output or error closed would otherwise hand that
// number to its first socket, and log lines would go to a Client.
void KeepStandardDescriptorsTaken() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1) {
            ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);  // takes the lowest free number
        }
    }
}

}  // namespace

int main(int argc, char* argv[]) {
    KeepStandardDescriptorsTaken();
    if (const auto text =
            corvane::control::AnswerInfoRequest(std::vector<std::string>(argv + 1, argv + argc),
                                                "corvane-cli", corvane::cli::kCliHelpText)) {
        std::fputs(text->c_str(), stdout);
        return std::fflush(stdout) == 0 ? corvane::cli::kExitOk : corvane::cli::kExitFailure;
    }
    const std::vector<std::string> given(argv + 1, argv + argc);
    if (corvane::cli::IsFollowCommand(given)) {
        std::signal(SIGPIPE, SIG_IGN);  // a reader that goes away ends the output, not us
        return corvane::cli::RunFollow(given, 1, 2);
    }
    corvane::platform::UseEpollEventLoop();
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
