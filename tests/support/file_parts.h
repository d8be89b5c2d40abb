// The parts of a rotated file as its tests read them back: the files of a folder in the
// order the parts began, and each file's bytes.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace corvane::test {

inline std::string ReadWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Ordered by name, with "-2", "-3", ... (a repeat of a part begun in the same second) after
// the name without it.
inline std::vector<std::string> PartsInOrder(const std::string& folder) {
    std::vector<std::tuple<std::string, int, std::string>> keyed;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        std::string stem = entry.path().stem().string();
        int repeat = 1;
        const std::size_t dash = stem.rfind('-');
        if (dash != std::string::npos && stem.size() - dash <= 4) {
            repeat = std::stoi(stem.substr(dash + 1));
            stem.resize(dash);
        }
        keyed.emplace_back(stem, repeat, entry.path().string());
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::string> paths;
    for (const auto& key : keyed) {
        paths.push_back(std::get<2>(key));
    }
    return paths;
}

}  // namespace corvane::test
