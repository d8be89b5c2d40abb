#include "log/log_file.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace corvane::log {

namespace {

constexpr std::size_t kBufferBytes = LogFile::kBufferBytes;

constexpr SinkFile::Texts kLogFileTexts{"Log File", "Could not write log file", "line"};

constexpr std::string_view kHtmlHeader =
    "<html>\r\n"
    "<head>\r\n"
    "  <meta name=\"Generator\" content=\"Corvane\">\r\n"
    "  <title>Corvane Log File</title>\r\n"
    "  <style type=\"text/css\">\r\n"
    "    <!--\r\n"
    "    span {font-size: 10pt; font-family: \"Courier New\", Courier, monospace}\r\n"
    "    span.tserror {color: red}\r\n"
    "    span.tsmsg {color: navy}\r\n"
    "    span.tsdata {color: black}\r\n"
    "    span.tsinform {color: maroon}\r\n"
    "    body {background: white; margin-top: 0; margin-right: 0; margin-left: 0; "
    "margin-bottom: 0}\r\n"
    "    -->\r\n"
    "  </style>\r\n"
    "</head>\r\n"
    "<body>\r\n";

constexpr std::string_view kSpanEnd = "</span>";

// Characters that the HTML writer cannot always copy as they are (a blank only after
// another blank).
constexpr std::array<bool, 256> MakeSpecialTable() {
    std::array<bool, 256> table{};
    table[static_cast<unsigned char>('<')] = true;
    table[static_cast<unsigned char>('>')] = true;
    table[static_cast<unsigned char>('&')] = true;
    table[static_cast<unsigned char>('\r')] = true;
    table[static_cast<unsigned char>(' ')] = true;
    return table;
}
constexpr auto kSpecial = MakeSpecialTable();

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (LowerAscii(a[i]) != LowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool IsHtmlLogName(std::string_view name) {
    const std::size_t separator = name.find_last_of("\\/:");
    const std::string_view component =
        separator == std::string_view::npos ? name : name.substr(separator + 1);
    const std::size_t dot = component.rfind('.');
    if (dot == std::string_view::npos) {
        return false;
    }
    const std::string_view extension = component.substr(dot);
    return EqualsIgnoringCase(extension, ".htm") || EqualsIgnoringCase(extension, ".html");
}

std::string_view HtmlClassOf(Colour colour) {
    switch (colour) {
        case ColourOf(LogKind::Message):
            return "tsmsg";
        case ColourOf(LogKind::Inform):
            return "tsinform";
        case ColourOf(LogKind::Error):
            return "tserror";
        default:
            return "tsdata";
    }
}

LogFile::LogFile()
    : file_(*this, kLogFileTexts, kTextFormat, kBufferBytes, kSpareBuffers, kLogFlushMs) {}

LogFile::~LogFile() {
    file_.SetReport(nullptr);  // whoever would log it is going too
    CloseLogFile();
}

bool LogFile::OpenLogFile(const std::string& name) {
    CloseLogFile();
    html_ = IsHtmlLogName(name);
    currentSpan_ = kNoSpan;
    if (!file_.Open(name)) {
        html_ = false;
        return false;
    }
    return true;
}

void LogFile::BeginPart() {
    currentSpan_ = kNoSpan;
    if (html_) {
        Put(kHtmlHeader);
    }
}

void LogFile::EndPart() {
    if (html_) {
        if (currentSpan_ != kNoSpan) {
            Put("</span>\r\n");
        }
        Put("</body>\r\n</html>\r\n");
    }
}

void LogFile::WriteLogText(std::string_view text, LogKind kind) {
    if (!file_.Writing()) {
        if (file_.IsOpen()) {
            file_.Lost(CountLines(text.data(), text.size()));
        }
        return;
    }
    if (!html_) {
        Put(text);
        return;
    }
    const Colour colour = ColourOf(kind);
    if (colour != currentSpan_) {
        if (currentSpan_ != kNoSpan) {
            Put(kSpanEnd);
        }
        currentSpan_ = colour;
        Put("<span class=\"");
        Put(HtmlClassOf(colour));
        Put("\">");
    }
    WriteEscaped(text);
}

void LogFile::WriteEscaped(std::string_view text) {
    // One input character becomes at most 7 ("<br />" CR): the text is escaped straight into
    // the buffer in chunks whose worst case fits, so no character is looked at twice.
    constexpr std::size_t kWorstGrowth = 7;
    constexpr std::size_t kChunk = kBufferBytes / kWorstGrowth;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = in + text.size();
    unsigned char previous = 0;  // the first character of the text has none
    while (in != end) {
        const std::size_t chunk = std::min(kChunk, static_cast<std::size_t>(end - in));
        char* const start = file_.Room(chunk * kWorstGrowth);
        char* out = start;
        auto put = [&out](std::string_view piece) {
            std::memcpy(out, piece.data(), piece.size());
            out += piece.size();
        };
        for (const auto* const stop = in + chunk; in != stop;) {
            const unsigned char c = *in++;
            if (!kSpecial[c]) {
                *out++ = static_cast<char>(c);
            } else if (c == ' ') {
                if (previous == ' ') {
                    put("&nbsp;");
                } else {
                    *out++ = ' ';
                }
            } else if (c == '<') {
                put("&lt;");
            } else if (c == '>') {
                put("&gt;");
            } else if (c == '&') {
                put("&amp;");
            } else {
                put("<br />\r");
            }
            previous = c;
        }
        file_.Commit(static_cast<std::size_t>(out - start));
    }
}

void LogFile::CloseLogFile() {
    file_.Close();
    html_ = false;
    currentSpan_ = kNoSpan;
}

}  // namespace corvane::log
