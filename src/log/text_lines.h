// Splitting a received block into text lines, and the rule that keeps the header of an
// HTTP response whose body is not text.
#pragma once

#include "log/log_entry.h"

namespace corvane::log {

// A text byte: blank to tilde, or TAB.
constexpr bool IsTextByte(unsigned char c) {
    return (c >= 0x20 && c <= 0x7E) || c == 0x09;
}

// Walks the block once, appending one Data entry per complete line (without its CR LF or
// bare LF, then CR LF) to `lines`, which must be empty on entry.
// - All text: textCount = size; incomplete is true when the last line has no LF (that
//   line is appended too, without a final CR).
// - Not all text (a byte that is not text, or a CR not followed by LF): textCount is the
//   offset where the offending line starts, the complete lines before it stay in the
//   chain, incomplete is false.
// Returns false when memory runs short; the chain is then freed and empty.
bool SplitTextLines(const char* bytes, int size, LogChain& lines, int& textCount, bool& incomplete);

// Whether SplitTextLines would take the whole block as text (textCount = size), found
// without building a line: every byte is text, an LF or a CR, and every CR but a last one
// is followed by an LF.
bool IsAllText(const char* bytes, int size);

// For a Server-to-Client block in Text mode that was not all text (after SplitTextLines
// gave `lines` and `textCount`): when httpRequestSeen and the first line begins with
// "HTTP/1.", the lines up to and including the first empty line stay and the rest are
// freed, with textCount the offset just past that empty line's line end in `bytes`; with
// no empty line, every line and textCount stay. Otherwise the chain is freed and
// textCount becomes 0. The relay clears its HTTP-request flag afterwards itself.
void KeepHttpResponseHeader(const char* bytes, LogChain& lines, int& textCount,
                            bool httpRequestSeen);

}  // namespace corvane::log
