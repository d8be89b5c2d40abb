// Helpers shared by the fuzz targets: a check that stops the run with a message (the build
// defines NDEBUG, so assert would vanish), allocation failures on demand, a private
// temporary directory, and readers for what the log produces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "log/log_entry.h"
#include "log/log_view.h"

namespace corvane::fuzz {

// Prints what failed and aborts, so that libFuzzer saves the input as a crash.
[[noreturn]] void Fail(const char* file, int line, const char* what, std::string_view detail);

#define FUZZ_CHECK(cond)                                          \
    do {                                                          \
        if (!(cond)) {                                            \
            ::corvane::fuzz::Fail(__FILE__, __LINE__, #cond, {}); \
        }                                                         \
    } while (0)

#define FUZZ_CHECK_EQ(a, b)                                                            \
    do {                                                                               \
        if (!((a) == (b))) {                                                           \
            ::corvane::fuzz::Fail(                                                     \
                __FILE__, __LINE__, #a " == " #b,                                      \
                ::corvane::fuzz::Describe(a) + " vs " + ::corvane::fuzz::Describe(b)); \
        }                                                                              \
    } while (0)

std::string Describe(std::string_view text);
inline std::string Describe(bool value) {
    return value ? "true" : "false";
}
inline std::string Describe(char c) {
    return Describe(std::string_view(&c, 1));
}
template <typename T>
requires std::is_integral_v<T> std::string Describe(T value) {
    return std::to_string(value);
}

// While alive, the allocation point fails every request once `allowed` requests have
// succeeded (a negative `allowed` fails none that way), and every request for more than
// `largest` bytes.
class AllocationFailure {
public:
    explicit AllocationFailure(long allowed, std::size_t largest = SIZE_MAX);
    ~AllocationFailure();
    AllocationFailure(const AllocationFailure&) = delete;
    AllocationFailure& operator=(const AllocationFailure&) = delete;

    // Requests seen so far, failed ones included.
    long Requests() const { return requests_; }

private:
    long allowed_;
    std::size_t largest_;
    long requests_ = 0;
};

// A directory of our own under the system's temporary directory, made once per process
// and removed at its exit.
const std::string& ScratchDirectory();

std::string ReadFile(const std::string& path);

// A Log Buffer that keeps what it is given, so that runs moved out of PendingLog when
// memory runs short are not lost to the checks.
class RecordingView final : public log::LogView {
public:
    std::int64_t TextLength() const override { return static_cast<std::int64_t>(text.size()); }
    void DeleteFirstLine() override;
    void AppendRun(std::string_view run, log::Colour) override { text.append(run); }
    void ScrollCaretIntoView() override {}
    void Clear() override { text.clear(); }

    std::string text;
};

// The chain's texts joined, in order.
std::string JoinChain(const log::LogChain& chain);
// Entries in the chain.
int ChainSize(const log::LogChain& chain);

// Splits the fuzzer's bytes at each `separator` into pieces (the last may be empty).
std::vector<std::string> SplitAt(const std::uint8_t* data, std::size_t size, char separator);

}  // namespace corvane::fuzz
