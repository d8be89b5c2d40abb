// WriteLogText over any sequence of texts and kinds. In an HTML Log File the body, with its
// tags removed and its escapes undone, is exactly the texts written; each character sits in
// the span of its kind, a span opens only when the kind changes, blanks after blanks are
// the only "&nbsp;" and every CR follows a "<br />". A text Log File holds the texts as
// they are.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "log/log_file.h"

namespace corvane::fuzz {
namespace {

constexpr log::LogKind kKinds[] = {log::LogKind::Message, log::LogKind::Inform, log::LogKind::Error,
                                   log::LogKind::Data};

struct Piece {
    std::string text;
    log::LogKind kind;
};

// One decoded character of the body and how it was written.
struct Decoded {
    char c;
    std::string_view spanClass;
    bool asNbsp;
    bool afterBreak;  // "<br />" directly before it
};

bool Take(std::string_view& rest, std::string_view token) {
    if (rest.substr(0, token.size()) != token) {
        return false;
    }
    rest.remove_prefix(token.size());
    return true;
}

// Reads the body (between the header and the closing lines) back into characters.
std::vector<Decoded> DecodeBody(std::string_view body, int& spansOpened) {
    std::vector<Decoded> out;
    std::string_view current;  // class of the open span
    bool breakPending = false;
    bool closedJustNow = false;
    spansOpened = 0;
    while (!body.empty()) {
        const bool wasClosed = closedJustNow;
        closedJustNow = false;
        if (body[0] == '<') {
            if (Take(body, "<br />")) {
                FUZZ_CHECK(!current.empty());
                breakPending = true;
                continue;
            }
            if (Take(body, "</span>")) {
                FUZZ_CHECK(!current.empty());
                closedJustNow = true;
                FUZZ_CHECK(body.substr(0, 13) == "<span class=\"");
                continue;
            }
            FUZZ_CHECK(Take(body, "<span class=\""));
            // Only the first span opens without closing one directly before.
            FUZZ_CHECK(wasClosed == (spansOpened > 0));
            const std::size_t quote = body.find('"');
            FUZZ_CHECK(quote != std::string_view::npos);
            current = body.substr(0, quote);
            FUZZ_CHECK(current == "tsmsg" || current == "tsinform" || current == "tserror" ||
                       current == "tsdata");
            body.remove_prefix(quote);
            FUZZ_CHECK(Take(body, "\">"));
            ++spansOpened;
            continue;
        }
        FUZZ_CHECK(!current.empty());
        Decoded d{body[0], current, false, breakPending};
        breakPending = false;
        if (body[0] == '&') {
            if (Take(body, "&lt;")) {
                d.c = '<';
            } else if (Take(body, "&gt;")) {
                d.c = '>';
            } else if (Take(body, "&amp;")) {
                d.c = '&';
            } else {
                FUZZ_CHECK(Take(body, "&nbsp;"));
                d.c = ' ';
                d.asNbsp = true;
            }
        } else {
            FUZZ_CHECK(body[0] != '>');
            body.remove_prefix(1);
        }
        out.push_back(d);
    }
    FUZZ_CHECK(!breakPending);  // a "<br />" is always followed by its CR
    return out;
}

void CheckHtml(const std::string& file, const std::vector<Piece>& pieces) {
    std::string_view rest = file;
    // The fixed header: 16 lines, the last one opening the body.
    int headerLines = 0;
    for (std::size_t pos = 0; pos < file.size() && headerLines < 16; ++headerLines) {
        pos = file.find("\r\n", pos);
        FUZZ_CHECK(pos != std::string::npos);
        pos += 2;
        if (headerLines == 15) {
            FUZZ_CHECK_EQ(file.substr(0, pos).substr(pos - 8), std::string("<body>\r\n"));
            rest.remove_prefix(pos);
        }
    }
    FUZZ_CHECK(file.substr(0, 8) == "<html>\r\n");
    const std::string_view closing = "</body>\r\n</html>\r\n";
    FUZZ_CHECK_EQ(rest.substr(rest.size() - closing.size()), closing);
    rest.remove_suffix(closing.size());

    std::size_t kindChanges = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        kindChanges += i == 0 || pieces[i].kind != pieces[i - 1].kind;
    }
    if (kindChanges > 0) {
        FUZZ_CHECK(rest.size() >= 9 && rest.substr(rest.size() - 9) == "</span>\r\n");
        rest.remove_suffix(9);
    }
    int spansOpened = 0;
    const std::vector<Decoded> decoded = DecodeBody(rest, spansOpened);
    FUZZ_CHECK_EQ(static_cast<std::size_t>(spansOpened), kindChanges);
    std::string written;
    std::string unescaped;
    for (const Piece& piece : pieces) {
        written += piece.text;
    }
    for (const Decoded& d : decoded) {
        unescaped += d.c;
    }
    FUZZ_CHECK_EQ(unescaped, written);

    std::size_t at = 0;
    for (const Piece& piece : pieces) {
        const std::string_view spanClass = log::HtmlClassOf(log::ColourOf(piece.kind));
        for (std::size_t i = 0; i < piece.text.size(); ++i, ++at) {
            FUZZ_CHECK(at < decoded.size());
            const Decoded& d = decoded[at];
            FUZZ_CHECK_EQ(d.c, piece.text[i]);
            FUZZ_CHECK_EQ(d.spanClass, spanClass);
            // A blank is a plain blank unless the one before it in this text is a blank.
            FUZZ_CHECK_EQ(d.asNbsp, d.c == ' ' && i > 0 && piece.text[i - 1] == ' ');
            FUZZ_CHECK_EQ(d.afterBreak, d.c == '\r');
        }
    }
    FUZZ_CHECK_EQ(decoded.size(), at);
}

}  // namespace
}  // namespace corvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    using namespace corvane::fuzz;
    FuzzedDataProvider in(data, size);
    std::vector<Piece> pieces;
    bool longTextWritten = false;
    while (in.remaining_bytes() > 0 && pieces.size() < 64) {
        const auto kind = kKinds[in.ConsumeIntegral<std::uint8_t>() % 4];
        // Now and then a text of some 10,000 characters, past what the writer escapes in
        // one go.
        const bool longText = in.ConsumeIntegral<std::uint8_t>() >= 250 && !longTextWritten;
        longTextWritten = longTextWritten || longText;
        const std::string unit = in.ConsumeRandomLengthString(256);
        std::string text = unit;
        while (longText && !unit.empty() && text.size() < 10000) {
            text += unit;
        }
        pieces.push_back({std::move(text), kind});
    }

    const std::string html = ScratchDirectory() + "/log.htm";
    const std::string plain = ScratchDirectory() + "/log.txt";
    {
        log::LogFile file;
        FUZZ_CHECK(file.OpenLogFile(html));
        FUZZ_CHECK(file.IsHtml());
        for (const Piece& piece : pieces) {
            file.WriteLogText(piece.text, piece.kind);
        }
        file.CloseLogFile();
        FUZZ_CHECK(!file.IsOpen());
    }
    CheckHtml(ReadFile(html), pieces);
    {
        log::LogFile file;
        FUZZ_CHECK(file.OpenLogFile(plain));
        FUZZ_CHECK(!file.IsHtml());
        std::string expected;
        for (const Piece& piece : pieces) {
            file.WriteLogText(piece.text, piece.kind);
            expected += piece.text;
        }
        file.CloseLogFile();
        FUZZ_CHECK_EQ(ReadFile(plain), expected);
    }
    return 0;
}
