// corvane-cli's "-conditions <file>": a file of conditions in the switch grammar (one switch
// per line, "#" starts a comment), read before Start and again within about 50 ms of each
// change, so that a script changes the network of a running relay by writing one file. The
// set read replaces the one in force whole (the engine logs "Conditions now: ..."); a file that
// cannot be read, or a wrong line, is an Error line naming it, and the set in force stays.
//
// Changes come from inotify (QFileSystemWatcher) on the file and on its folder, so that a file
// replaced by a rename, or made only later, is seen too; nothing polls. Writing a new version
// under another name and renaming it over the file makes every read see a whole file.
#pragma once

#include <QFileSystemWatcher>
#include <QTimer>
#include <optional>
#include <string>

#include "relay/conditions/conditions.h"

namespace corvane::control {
class RelayControl;
}

namespace corvane::cli {

// The time a change is given to settle before the file is read: an editor's or a script's
// write is usually done by then, and the change still applies well within 200 ms.
constexpr int kConditionsSettleMs = 50;
// A conditions file is a few lines; anything larger is not one.
constexpr std::size_t kLargestConditionsFile = 64 * 1024;

class ConditionsFile {
public:
    ConditionsFile(std::string path, control::RelayControl& control);
    ConditionsFile(const ConditionsFile&) = delete;
    ConditionsFile& operator=(const ConditionsFile&) = delete;

    // Before Start: a set read whole becomes the one Start takes; a problem waits for Watch.
    void ReadBeforeStart();
    // After Start: logs the first read's problem, if any, and watches for changes.
    void Watch();

private:
    // The set in the file, or nullopt with the Error line's text in problem. unchanged: the
    // file holds what the last read found.
    std::optional<relay::Conditions> Read(std::string& problem, bool& unchanged);
    void OnChange();
    void Rewatch();

    std::string path_;
    control::RelayControl& control_;
    std::optional<std::string> lastContent_;  // none: the file could not be read
    std::string startProblem_;
    QFileSystemWatcher watcher_;
    QTimer settle_;
};

}  // namespace corvane::cli
