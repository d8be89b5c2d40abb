#include "platform/private_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace corvane::platform {

bool MakePrivateFolders(const std::string& dir, std::string& reason) {
    for (std::size_t at = 1; at <= dir.size(); ++at) {
        if (at == dir.size() || dir[at] == '/') {
            const std::string part = dir.substr(0, at);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
                reason = part + ": " + std::strerror(errno);
                return false;
            }
        }
    }
    return true;
}

}  // namespace corvane::platform
