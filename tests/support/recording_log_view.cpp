#include "support/recording_log_view.h"

namespace corvane::test {

void RecordingLogView::DeleteFirstLine() {
    const auto end = text.find("\r\n");
    text.erase(0, end == std::string::npos ? text.size() : end + 2);
    if (!lines.empty()) {
        lines.erase(lines.begin());
    }
}

void RecordingLogView::AppendRun(std::string_view run, log::Colour colour) {
    text.append(run);
    std::size_t start = 0;
    while (start < run.size()) {
        const auto end = run.find("\r\n", start);
        const auto stop = end == std::string_view::npos ? run.size() : end;
        lines.emplace_back(std::string(run.substr(start, stop - start)), colour);
        start = stop + 2;
    }
}

}  // namespace corvane::test
