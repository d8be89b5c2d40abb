// A Log Buffer view that records: the whole text as the view holds it, the lines with their
// colours, and how often it was emptied. Shared by the test programs that run the log.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "log/log_view.h"

namespace corvane::test {

class RecordingLogView : public log::LogView {
public:
    virtual ~RecordingLogView() = default;
    std::int64_t TextLength() const override { return static_cast<std::int64_t>(text.size()); }
    void DeleteFirstLine() override;
    void AppendRun(std::string_view run, log::Colour colour) override;
    // AppendRun, and each line's serial in serials.
    void AppendConnectionRun(std::string_view run, log::Colour colour,
                             std::span<const log::RunPart> parts) override;
    void ScrollCaretIntoView() override {}
    void Clear() override {
        text.clear();
        lines.clear();
        serials.clear();
        ++clears;
    }

    std::string text;
    std::vector<std::pair<std::string, log::Colour>> lines;  // without CR LF
    // The serial of each line of `lines` that came with one (lines appended by AppendRun
    // alone have kNoConnection).
    std::vector<log::ConnectionSerial> serials;
    int clears = 0;
};

}  // namespace corvane::test
