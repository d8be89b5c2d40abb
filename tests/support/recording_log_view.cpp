#include "support/recording_log_view.h"

namespace corvane::test {

void RecordingLogView::DeleteFirstLine() {
    const auto end = text.find("\r\n");
    text.erase(0, end == std::string::npos ? text.size() : end + 2);
    if (!lines.empty()) {
        lines.erase(lines.begin());
        serials.erase(serials.begin());
    }
}

void RecordingLogView::AppendRun(std::string_view run, log::Colour colour) {
    text.append(run);
    std::size_t start = 0;
    while (start < run.size()) {
        const auto end = run.find("\r\n", start);
        const auto stop = end == std::string_view::npos ? run.size() : end;
        lines.emplace_back(std::string(run.substr(start, stop - start)), colour);
        serials.push_back(log::kNoConnection);
        start = stop + 2;
    }
}

void RecordingLogView::AppendConnectionRun(std::string_view run, log::Colour colour,
                                           std::span<const log::RunPart> parts) {
    const std::size_t first = lines.size();
    AppendRun(run, colour);
    // Each part is whole lines: count its line ends.
    std::size_t line = first;
    std::size_t offset = 0;
    for (const log::RunPart& part : parts) {
        const std::string_view stretch = run.substr(offset, static_cast<std::size_t>(part.length));
        for (std::size_t at = stretch.find("\r\n");
             at != std::string_view::npos && line < lines.size();
             at = stretch.find("\r\n", at + 2)) {
            serials[line++] = part.serial;
        }
        offset += static_cast<std::size_t>(part.length);
    }
}

}  // namespace corvane::test
