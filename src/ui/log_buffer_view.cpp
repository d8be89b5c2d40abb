#include "ui/log_buffer_view.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <algorithm>

namespace corvane::ui {

namespace {

// A line keeps its Connection in its block's user state: the serial folded into a positive
// int (two Connections 2^31 - 1 apart would share one); -1, the state of a new block, is a
// line about no Connection.
constexpr int kNoTag = -1;
int BlockTag(log::ConnectionSerial serial) {
    if (serial == log::kNoConnection) {
        return kNoTag;
    }
    return static_cast<int>((serial - 1) % 0x7FFFFFFE) + 1;
}

// Lines in a stretch of a run: each CR LF ends one, and a last line may lack it.
int LinesIn(std::string_view text) {
    int lines = 0;
    for (std::size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == '\r' && text[i + 1] == '\n') {
            ++lines;
            ++i;
        }
    }
    if (!text.empty() && !(text.size() >= 2 && text.substr(text.size() - 2) == "\r\n")) {
        ++lines;
    }
    return lines;
}

}  // namespace

QColor ToQColor(log::Colour colour) {
    return QColor(static_cast<int>(colour & 0xFF), static_cast<int>((colour >> 8) & 0xFF),
                  static_cast<int>((colour >> 16) & 0xFF));
}

TLogBufferView::TLogBufferView(QWidget* parent) : QPlainTextEdit(parent) {
    setObjectName(QStringLiteral("Memo1"));
    setReadOnly(true);
    setUndoRedoEnabled(false);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setWordWrapMode(QTextOption::NoWrap);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Keyboard focus and selection, but no editing and no links.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    QFont font(QStringLiteral("Courier New"), 10);
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    setFont(font);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int) { OnScrollAction(); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &TLogBufferView::OnScrolled);
    connect(this, &QPlainTextEdit::selectionChanged, this, &TLogBufferView::OnSelectionChanged);
}

bool TLogBufferView::AtEnd() const {
    const QScrollBar* bar = verticalScrollBar();
    return bar->value() >= bar->maximum();
}

void TLogBufferView::OnScrollAction() {
    // The scroll bar, the wheel: back at the end follows it, even with a selection.
    if (ownChanges_ == 0) {
        const QScrollBar* bar = verticalScrollBar();
        following_ = bar->sliderPosition() >= bar->maximum();
    }
}

void TLogBufferView::OnScrolled(int value) {
    // Any other move by the user (keys, a resize): away from the end holds; at the end
    // follows unless a selection is being read.
    if (ownChanges_ != 0) {
        return;
    }
    if (value < verticalScrollBar()->maximum()) {
        following_ = false;
    } else if (!HasSelection()) {
        following_ = true;
    }
}

void TLogBufferView::OnSelectionChanged() {
    if (ownChanges_ == 0 && HasSelection()) {
        following_ = false;
    }
}

void TLogBufferView::DeleteFirstLine() {
    const OwnChange own(*this);
    QTextDocument* doc = document();
    const QTextBlock first = doc->firstBlock();
    const bool onlyLine = !first.next().isValid();
    const bool firstShown = first.isVisible();  // a hidden line takes no place on screen
    std::int64_t removed = first.length() - 1;
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::Start);
    if (onlyLine) {
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        if (lineEndPending_) {
            removed += 2;
        }
        lineEndPending_ = false;
    } else {
        // Selecting to the next block takes the line and its separator, and leaves no
        // empty block behind.
        cursor.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor);
        removed += 2;
    }
    // The scroll position counts lines from the top: while the view holds still, the lines
    // on screen keep their place as the one above them goes (the first line, once they are
    // the ones deleted).
    QScrollBar* bar = verticalScrollBar();
    const int top = bar->value();
    cursor.removeSelectedText();
    length_ = removed > length_ ? 0 : length_ - removed;
    if (!following_ && top > 0 && firstShown) {
        bar->setValue(top - 1);
    }
}

std::int64_t TLogBufferView::DeleteFirstLinesDownTo(std::int64_t keep) {
    // The lines that go, counted as DeleteFirstLine counts them: each with its two-character
    // line end, the last line's only while it is pending.
    QTextDocument* doc = document();
    QTextBlock block = doc->firstBlock();
    std::int64_t held = length_;
    bool all = false;
    int lines = 0;
    while (held > 0 && held > keep && block.isValid()) {
        const bool last = !block.next().isValid();
        std::int64_t removed = block.length() - 1;
        if (!last || lineEndPending_) {
            removed += 2;
        }
        held = removed > held ? 0 : held - removed;
        if (block.isVisible()) {
            ++lines;
        }
        block = block.next();
        all = last;
    }
    if (held == length_) {
        return held;
    }
    // As in DeleteFirstLine: while the view holds still, the lines on screen keep their place.
    const OwnChange own(*this);
    QScrollBar* bar = verticalScrollBar();
    const int top = bar->value();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::Start);
    if (all) {
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        lineEndPending_ = false;
    } else {
        cursor.setPosition(block.position(), QTextCursor::KeepAnchor);
    }
    cursor.removeSelectedText();
    length_ = held;
    if (!following_ && top > 0) {
        bar->setValue(top > lines ? top - lines : 0);
    }
    return held;
}

void TLogBufferView::AppendRun(std::string_view text, log::Colour colour) {
    // The text goes into the QString's own storage at once: appending character by character
    // cost about a tenth of a run's insertion.
    const std::size_t n = text.size();
    QString shown(static_cast<qsizetype>(n) + 1, Qt::Uninitialized);
    QChar* out = shown.data();
    if (lineEndPending_) {
        *out++ = QChar::ParagraphSeparator;
        lineEndPending_ = false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') {
            ++i;
            if (i + 1 == n) {
                lineEndPending_ = true;
            } else {
                *out++ = QChar::ParagraphSeparator;
            }
        } else if (c == '\r' || c == '\n') {
            // A line break that is not CR LF would make a block the count does not know.
            *out++ = QLatin1Char(' ');
        } else {
            *out++ = QLatin1Char(c);
        }
    }
    shown.truncate(out - shown.constData());
    length_ += static_cast<std::int64_t>(n);

    const OwnChange own(*this);
    // At the end with nothing selected the view follows, whatever held it before (a
    // selection that the user has since cleared).
    if (!following_ && !HasSelection() && AtEnd()) {
        following_ = true;
    }
    const ScrollPosition kept = Scroll();
    const QTextCursor users = textCursor();
    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    const int oldEnd = cursor.position();
    // A caret at the end moves along with text inserted there.
    const bool caretAtEnd = !users.hasSelection() && users.position() == oldEnd;
    QTextCharFormat format;
    format.setForeground(ToQColor(colour));
    cursor.insertText(shown, format);
    if (following_) {
        // The caret goes to the end: any selection is replaced by it. A caret that was at the
        // end has moved there with the insertion; setting it again would lay out the last
        // line once more. Moving the caret would scroll it into view by itself; scrolling is
        // ScrollCaretIntoView's alone.
        if (!caretAtEnd) {
            setTextCursor(cursor);
        }
    } else if (users.anchor() == oldEnd || users.position() == oldEnd) {
        // A caret or selection edge at the old end would have moved with the insertion.
        QTextCursor restored(document());
        restored.setPosition(users.anchor());
        restored.setPosition(users.position(), QTextCursor::KeepAnchor);
        setTextCursor(restored);
    }
    SetScroll(kept);
}

void TLogBufferView::AppendConnectionRun(std::string_view text, log::Colour colour,
                                         std::span<const log::RunPart> parts) {
    // The run's first line goes into a new block behind a pending line end, else into the
    // last block (an empty view's).
    const int firstLine = document()->blockCount() - (lineEndPending_ ? 0 : 1);
    AppendRun(text, colour);
    QTextBlock block = document()->findBlockByNumber(firstLine);
    const int firstPosition = block.position();
    bool hid = false;
    std::size_t at = 0;
    for (const log::RunPart& part : parts) {
        if (at >= text.size()) {
            break;
        }
        const std::size_t length =
            std::min<std::size_t>(static_cast<std::size_t>(part.length), text.size() - at);
        const int tag = BlockTag(part.serial);
        const bool shown = !filtering_ || tag == kNoTag || shownTags_.count(tag) != 0;
        for (int lines = LinesIn(text.substr(at, length)); lines > 0 && block.isValid(); --lines) {
            block.setUserState(tag);
            if (!shown) {
                block.setVisible(false);
                hid = true;
            }
            block = block.next();
        }
        at += length;
    }
    if (hid) {
        QTextDocument* doc = document();
        doc->markContentsDirty(firstPosition, doc->characterCount() - firstPosition);
    }
}

void TLogBufferView::ShowOnly(const std::vector<log::ConnectionSerial>& serials) {
    filtering_ = true;
    shownTags_.clear();
    for (const log::ConnectionSerial serial : serials) {
        shownTags_.insert(BlockTag(serial));
    }
    QTextDocument* doc = document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const int tag = block.userState();
        block.setVisible(tag == kNoTag || shownTags_.count(tag) != 0);
    }
    doc->markContentsDirty(0, doc->characterCount());
    ScrollCaretIntoView();
}

void TLogBufferView::ShowAll() {
    filtering_ = false;
    shownTags_.clear();
    QTextDocument* doc = document();
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        block.setVisible(true);
    }
    doc->markContentsDirty(0, doc->characterCount());
    ScrollCaretIntoView();
}

QString TLogBufferView::ShownText() const {
    QString text;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        if (block.isVisible()) {
            text += block.text();
            text += QLatin1Char('\n');
        }
    }
    return text;
}

QMimeData* TLogBufferView::createMimeDataFromSelection() const {
    if (!filtering_) {
        return QPlainTextEdit::createMimeDataFromSelection();
    }
    const QTextCursor cursor = textCursor();
    const int start = cursor.selectionStart();
    const int end = cursor.selectionEnd();
    QString text;
    bool first = true;
    for (QTextBlock block = document()->findBlock(start);
         block.isValid() && block.position() <= end; block = block.next()) {
        if (!block.isVisible()) {
            continue;
        }
        const int from = std::max(start, block.position()) - block.position();
        const int to = std::min(end, block.position() + block.length() - 1) - block.position();
        if (!first) {
            text += QLatin1Char('\n');
        }
        first = false;
        text += block.text().mid(from, to - from);
    }
    auto* mime = new QMimeData;
    mime->setText(text);
    return mime;
}

TLogBufferView::ScrollPosition TLogBufferView::Scroll() const {
    return {horizontalScrollBar()->value(), verticalScrollBar()->value()};
}

void TLogBufferView::SetScroll(ScrollPosition position) {
    horizontalScrollBar()->setValue(position.x);
    verticalScrollBar()->setValue(position.y);
}

void TLogBufferView::showEvent(QShowEvent* event) {
    // The widget would scroll to its caret when first shown; before the window has become
    // active the view stays where it is.
    const OwnChange own(*this);
    const ScrollPosition kept = Scroll();
    QPlainTextEdit::showEvent(event);
    SetScroll(kept);
}

void TLogBufferView::ScrollCaretIntoView() {
    if (following_) {
        const OwnChange own(*this);
        ensureCursorVisible();
    }
}

void TLogBufferView::Clear() {
    const OwnChange own(*this);
    clear();
    length_ = 0;
    lineEndPending_ = false;
    following_ = true;
}

bool TLogBufferView::HasSelection() const {
    return textCursor().hasSelection();
}

int TLogBufferView::DocumentLength() const {
    return document()->characterCount() - 1;
}

int TLogBufferView::SelectionLength() const {
    const QTextCursor cursor = textCursor();
    return cursor.selectionEnd() - cursor.selectionStart();
}

log::Colour TLogBufferView::ColourOfLine(int line) const {
    const QTextBlock block = document()->findBlockByNumber(line);
    if (!block.isValid()) {
        return 0xFFFFFFFF;
    }
    QTextCursor cursor(block);
    cursor.movePosition(QTextCursor::NextCharacter);
    const QColor c = cursor.charFormat().foreground().color();
    return static_cast<log::Colour>(c.red()) | (static_cast<log::Colour>(c.green()) << 8) |
           (static_cast<log::Colour>(c.blue()) << 16);
}

void TLogBufferView::contextMenuEvent(QContextMenuEvent* event) {
    Q_EMIT ContextMenuRequested(event->globalPos());
    event->accept();
}

void TLogBufferView::keyPressEvent(QKeyEvent* event) {
    // The view does not take the Enter key: it goes on to the window (the default button).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->ignore();
        return;
    }
    if (event->matches(QKeySequence::MoveToEndOfDocument)) {
        following_ = true;  // the caret goes to the end and the view follows it from now on
    }
    QPlainTextEdit::keyPressEvent(event);
}

}  // namespace corvane::ui
