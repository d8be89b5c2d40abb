// "corvane-cli -follow FILE [SERIAL [up|down]]": reads a kept-streams store (written with
// "-streams FILE") back, without relaying anything.
//   -follow FILE               the Connections it holds, one line each (KeptConnectionTable)
//   -follow FILE SERIAL        that Connection's conversation as text: each block under a
//                              heading with its direction and time (AppendBlockText)
//   -follow FILE SERIAL up     the Client's bytes exactly as they were passed on to the
//                   down       Server, or the Server's as passed on to the Client
// Everything goes to out; a file that is not a store, or a serial it does not hold, is a
// line on err and exit code 1 (kExitFailure); a wrong form, kExitUsage.
#pragma once

#include <string>
#include <vector>

namespace corvane::cli {

// True when args (after the program's name) ask for -follow.
bool IsFollowCommand(const std::vector<std::string>& args);

// The whole command; returns the exit code.
int RunFollow(const std::vector<std::string>& args, int out, int err);

}  // namespace corvane::cli
