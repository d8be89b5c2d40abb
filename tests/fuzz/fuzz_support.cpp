#include "fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/memory.h"

namespace corvane::fuzz {

void Fail(const char* file, int line, const char* what, std::string_view detail) {
    std::fprintf(stderr, "%s:%d: property failed: %s\n", file, line, what);
    if (!detail.empty()) {
        std::fprintf(stderr, "  %.*s\n", static_cast<int>(detail.size()), detail.data());
    }
    std::abort();
}

std::string Describe(std::string_view text) {
    // Printable, with the bytes that are not shown as escapes, and cut when very long.
    constexpr std::size_t kShown = 400;
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '\\' && c != '"') {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
            out += escaped;
        }
    }
    out += text.size() > kShown ? "\"..." : "\"";
    return out + " (" + std::to_string(text.size()) + " bytes)";
}

AllocationFailure::AllocationFailure(long allowed, std::size_t largest)
    : allowed_(allowed), largest_(largest) {
    platform::SetAllocationFailure([this](std::size_t size) {
        ++requests_;
        return (allowed_ >= 0 && requests_ > allowed_) || size > largest_;
    });
}

AllocationFailure::~AllocationFailure() {
    platform::SetAllocationFailure({});
}

namespace {

struct Scratch {
    Scratch() {
        // Memory-backed when the machine has it: a disk file emptied and rewritten on every
        // input costs milliseconds in block allocation at each close.
        std::error_code error;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", error)
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "corvane-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            Fail(__FILE__, __LINE__, "mkdtemp", pattern);
        }
        path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

}  // namespace

const std::string& ScratchDirectory() {
    static const Scratch scratch;
    return scratch.path;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void RecordingView::DeleteFirstLine() {
    const std::size_t lf = text.find('\n');
    text.erase(0, lf == std::string::npos ? text.size() : lf + 1);
}

std::string JoinChain(const log::LogChain& chain) {
    std::string text;
    for (const log::LogEntry* e = chain.head; e != nullptr; e = e->next) {
        text.append(e->View());
    }
    return text;
}

int ChainSize(const log::LogChain& chain) {
    int n = 0;
    for (const log::LogEntry* e = chain.head; e != nullptr; e = e->next) {
        ++n;
    }
    return n;
}

std::vector<std::string> SplitAt(const std::uint8_t* data, std::size_t size, char separator) {
    std::vector<std::string> pieces(1);
    for (std::size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == separator) {
            pieces.emplace_back();
        } else {
            pieces.back() += c;
        }
    }
    return pieces;
}

}  // namespace corvane::fuzz
