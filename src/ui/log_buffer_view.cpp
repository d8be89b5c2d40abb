#include "ui/log_buffer_view.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>

namespace corvane::ui {

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
}

void TLogBufferView::DeleteFirstLine() {
    QTextDocument* doc = document();
    const QTextBlock first = doc->firstBlock();
    const bool onlyLine = !first.next().isValid();
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
    cursor.removeSelectedText();
    length_ = removed > length_ ? 0 : length_ - removed;
}

std::int64_t TLogBufferView::DeleteFirstLinesDownTo(std::int64_t keep) {
    // The lines that go, counted as DeleteFirstLine counts them: each with its two-character
    // line end, the last line's only while it is pending.
    QTextDocument* doc = document();
    QTextBlock block = doc->firstBlock();
    std::int64_t held = length_;
    bool all = false;
    while (held > 0 && held > keep && block.isValid()) {
        const bool last = !block.next().isValid();
        std::int64_t removed = block.length() - 1;
        if (!last || lineEndPending_) {
            removed += 2;
        }
        held = removed > held ? 0 : held - removed;
        block = block.next();
        all = last;
    }
    if (held == length_) {
        return held;
    }
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
    return held;
}

void TLogBufferView::AppendRun(std::string_view text, log::Colour colour) {
    QString shown;
    shown.reserve(static_cast<qsizetype>(text.size()) + 1);
    if (lineEndPending_) {
        shown.append(QChar::ParagraphSeparator);
        lineEndPending_ = false;
    }
    const std::size_t n = text.size();
    for (std::size_t i = 0; i < n; ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < n && text[i + 1] == '\n') {
            ++i;
            if (i + 1 == n) {
                lineEndPending_ = true;
            } else {
                shown.append(QChar::ParagraphSeparator);
            }
        } else if (c == '\r' || c == '\n') {
            // A line break that is not CR LF would make a block the count does not know.
            shown.append(QLatin1Char(' '));
        } else {
            shown.append(QLatin1Char(c));
        }
    }
    length_ += static_cast<std::int64_t>(n);

    QTextCursor cursor(document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format;
    format.setForeground(ToQColor(colour));
    cursor.insertText(shown, format);
    // The caret goes to the end: any selection the user made is replaced by it. Moving the
    // caret would scroll it into view by itself; scrolling is ScrollCaretIntoView's alone.
    const ScrollPosition kept = Scroll();
    setTextCursor(cursor);
    SetScroll(kept);
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
    const ScrollPosition kept = Scroll();
    QPlainTextEdit::showEvent(event);
    SetScroll(kept);
}

void TLogBufferView::ScrollCaretIntoView() {
    ensureCursorVisible();
}

void TLogBufferView::Clear() {
    clear();
    length_ = 0;
    lineEndPending_ = false;
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
    QPlainTextEdit::keyPressEvent(event);
}

}  // namespace corvane::ui
