// Where the window keeps its streams: one store per run in the user's cache directory
// ($XDG_CACHE_HOME/corvane, else ~/.cache/corvane), a folder readable by the user only
// (0700), named streams-<process id>. The run holds a lock on its file (flock) for its whole
// life and removes the file at its end; a file whose lock nobody holds was left by a run
// that ended without that (a crash, a kill) and is removed when the next run begins.
#pragma once

#include <string>

namespace corvane::log {

class RunStoreFile {
public:
    // Makes the folder (0700; an existing one is set to 0700), removes the stores left by
    // earlier runs, and creates and locks this run's file (0600). Path() is empty when that
    // could not be done.
    explicit RunStoreFile(const std::string& folder = DefaultFolder());
    // Removes the file and releases the lock.
    ~RunStoreFile();
    RunStoreFile(const RunStoreFile&) = delete;
    RunStoreFile& operator=(const RunStoreFile&) = delete;

    const std::string& Path() const { return path_; }

    // $XDG_CACHE_HOME/corvane when that is an absolute path, else $HOME/.cache/corvane;
    // empty without either.
    static std::string DefaultFolder();
    // Removes every "streams-*" file in folder that no running program holds locked;
    // returns how many went.
    static int RemoveAbandoned(const std::string& folder);

private:
    std::string path_;
    int fd_ = -1;
};

}  // namespace corvane::log
