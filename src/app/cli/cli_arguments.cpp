#include "app/cli/cli_arguments.h"

#include "control/command_line.h"

namespace corvane::cli {

bool ParseCliArguments(const std::vector<std::string>& args, control::Settings& settings,
                       std::string* problem) {
    // The window takes an empty command line as "use the stored settings"; there are none
    // here, so the three positional arguments are required.
    constexpr std::size_t kPositional = 3;
    if (args.size() < kPositional) {
        return false;
    }
    settings = control::Settings{};
    settings.KeepStreams = 0;  // the window's store in the cache is not the terminal's
    return control::ParseCommandLine(args, settings, problem, true) ==
           control::CommandLineResult::Ok;
}

}  // namespace corvane::cli
