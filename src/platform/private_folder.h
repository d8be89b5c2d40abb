// Folders that hold what only the user may see or change: the settings and the relay's own
// TLS key.
#pragma once

#include <string>

namespace corvane::platform {

// Makes every missing folder of the path with mode 0700 from the start (never made with the
// umask's mode first and narrowed afterwards). Folders that exist are left as they are.
// False with the system's reason when one cannot be made.
bool MakePrivateFolders(const std::string& dir, std::string& reason);

}  // namespace corvane::platform
