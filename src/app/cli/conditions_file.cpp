#include "app/cli/conditions_file.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>

#include "control/relay_control.h"
#include "relay/conditions/conditions_text.h"

namespace corvane::cli {

ConditionsFile::ConditionsFile(std::string path, control::RelayControl& control)
    : path_(std::move(path)), control_(control) {
    settle_.setSingleShot(true);
    QObject::connect(&settle_, &QTimer::timeout, &settle_, [this] { OnChange(); });
    const auto changed = [this] { settle_.start(kConditionsSettleMs); };
    QObject::connect(&watcher_, &QFileSystemWatcher::fileChanged, &settle_, changed);
    QObject::connect(&watcher_, &QFileSystemWatcher::directoryChanged, &settle_, changed);
}

std::optional<relay::Conditions> ConditionsFile::Read(std::string& problem, bool& unchanged) {
    const std::string where = "Conditions file " + path_;
    std::ifstream in(path_, std::ios::binary);
    std::string content;
    if (in) {
        content.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const bool readable = in.good() || in.eof();
    unchanged = readable ? lastContent_ == content : !lastContent_.has_value();
    if (!readable) {
        lastContent_.reset();
        problem =
            where + " cannot be read (" + std::strerror(errno) + "); the conditions in force stay";
        return std::nullopt;
    }
    lastContent_ = content;
    if (content.size() > kLargestConditionsFile) {
        problem = where + " is too large; the conditions in force stay";
        return std::nullopt;
    }
    relay::TextProblem bad;
    std::optional<relay::Conditions> set = relay::ParseConditionsText(content, bad);
    if (!set) {
        problem = where + ", line " + std::to_string(bad.line) + ": " + bad.text +
                  "; the conditions in force stay";
    } else if (!set->seed) {
        set->seed = control_.Conditions().seed;  // a "-seed" on the command line stands
    }
    return set;
}

void ConditionsFile::ReadBeforeStart() {
    bool unchanged = false;
    if (const auto set = Read(startProblem_, unchanged)) {
        control_.SetConditions(*set);
    }
}

void ConditionsFile::Watch() {
    if (!startProblem_.empty()) {
        control_.Log().LogError(startProblem_.c_str());
    }
    Rewatch();
}

// The folder is watched too: an editor that writes a new file and renames it over the old one
// leaves the watch on the old file behind, and a file made later has none yet.
void ConditionsFile::Rewatch() {
    const QString file = QString::fromStdString(path_);
    const QString folder = QFileInfo(file).absolutePath();
    if (!watcher_.directories().contains(folder)) {
        watcher_.addPath(folder);
    }
    if (!watcher_.files().contains(file) && QFileInfo::exists(file)) {
        watcher_.addPath(file);
    }
}

void ConditionsFile::OnChange() {
    Rewatch();
    std::string problem;
    bool unchanged = false;
    const auto set = Read(problem, unchanged);
    if (unchanged) {
        return;  // another file in the folder changed, or the same text was written again
    }
    if (set) {
        control_.SetConditions(*set);
    } else {
        control_.Log().LogError(problem.c_str());
    }
}

}  // namespace corvane::cli
