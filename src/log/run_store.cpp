#include "log/run_store.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string_view>

namespace corvane::log {

namespace {

constexpr std::string_view kPrefix = "streams-";

}  // namespace

std::string RunStoreFile::DefaultFolder() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') {
        return std::string(cache) + "/corvane";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.cache/corvane";
    }
    return {};
}

int RunStoreFile::RemoveAbandoned(const std::string& folder) {
    DIR* dir = folder.empty() ? nullptr : ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.substr(0, kPrefix.size()) != kPrefix) {
            continue;
        }
        const std::string path = folder + "/" + std::string(name);
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            continue;
        }
        // A run that is still going holds its lock; none is held for a file it left.
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(path.c_str()) == 0) {
            ++removed;
        }
        ::close(fd);
    }
    ::closedir(dir);
    return removed;
}

RunStoreFile::RunStoreFile(const std::string& folder) {
    if (folder.empty()) {
        return;
    }
    // The parent (~/.cache) may be missing too; only the last folder is ours to restrict.
    const std::size_t slash = folder.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        ::mkdir(folder.substr(0, slash).c_str(), 0700);
    }
    if ((::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) ||
        ::chmod(folder.c_str(), 0700) != 0) {
        return;
    }
    RemoveAbandoned(folder);
    // The process id names the run; a second store of the same process (tests) gets a count.
    static std::atomic<int> made{0};
    const int count = made++;
    const std::string path = folder + "/" + std::string(kPrefix) + std::to_string(::getpid()) +
                             (count == 0 ? std::string() : "-" + std::to_string(count));
    // Another run that begins at this moment may take the new file for a left one between
    // its creation and its lock: a file found unlinked under the lock is made again.
    for (int attempt = 0; attempt < 3 && path_.empty(); ++attempt) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            return;
        }
        struct stat st {};
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0) {
            fd_ = fd;
            path_ = path;
        } else {
            ::close(fd);
        }
    }
}

RunStoreFile::~RunStoreFile() {
    if (fd_ >= 0) {
        ::unlink(path_.c_str());
        ::close(fd_);
    }
}

}  // namespace corvane::log
