// The Log Buffer view Memo1: a read-only plain text widget showing each run in its colour.
//
// Its text length is kept as a running count in which each line end counts as two
// characters (CR LF), whatever the widget stores. The document holds one block per line;
// the line end of the last line is not stored as a block separator (that would leave an
// empty last block) but remembered and inserted before the next run.
//
// The view holds still while the user reads: once the user has scrolled up from the end or
// made a selection, runs still go in at the end, but the caret, the selection and the scroll
// position stay as the user left them. It follows the end again when the user scrolls back
// to the end (or, with no selection, moves there) or presses Ctrl+End.
#pragma once

#include <QPlainTextEdit>
#include <cstdint>
#include <span>
#include <unordered_set>
#include <vector>

#include "log/log_view.h"

namespace corvane::ui {

class TLogBufferView final : public QPlainTextEdit, public log::LogView {
    Q_OBJECT
public:
    explicit TLogBufferView(QWidget* parent = nullptr);

    std::int64_t TextLength() const override { return length_; }
    void DeleteFirstLine() override;
    // In one edit of the document: deleting line by line costs about 50 us a line.
    std::int64_t DeleteFirstLinesDownTo(std::int64_t keep) override;
    // Bytes are shown one character each (Latin-1); a run may end without a line end.
    void AppendRun(std::string_view text, log::Colour colour) override;
    // AppendRun, and each new line keeps the serial of its Connection; while only some
    // Connections are shown, the lines of the others are hidden as they arrive.
    void AppendConnectionRun(std::string_view text, log::Colour colour,
                             std::span<const log::RunPart> parts) override;
    void ScrollCaretIntoView() override;
    void Clear() override;

    // Whether the view has a non-empty selection / holds any text.
    bool HasSelection() const;
    bool HasText() const { return length_ > 0; }
    // Characters in the document and in its selection, in the widget's own counting; Select
    // All applies when they differ.
    int DocumentLength() const;
    int SelectionLength() const;

    // Shows only the lines of these Connections, and those about no Connection (the relay's
    // own lines, the mark of lines not shown), the lines held and those that arrive. The
    // lines of the others stay held, hidden: they count towards the Buffer Size as before.
    void ShowOnly(const std::vector<log::ConnectionSerial>& serials);
    // Every line shown again.
    void ShowAll();
    bool Filtering() const { return filtering_; }
    // The lines shown, each ending in LF (what the user sees, hidden lines left out).
    QString ShownText() const;

    // The colour (0x00BBGGRR) of the text at the start of the given line, for tests.
    log::Colour ColourOfLine(int line) const;

    // True while insertions put the caret at the end (and scrolling shows it); false while
    // the view holds still for the user.
    bool FollowsEnd() const { return following_; }

Q_SIGNALS:
    // The user asked for the context menu at a global position.
    void ContextMenuRequested(const QPoint& globalPos);

protected:
    // Copy and drag take the lines shown only.
    QMimeData* createMimeDataFromSelection() const override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    struct ScrollPosition {
        int x;
        int y;
    };
    ScrollPosition Scroll() const;
    void SetScroll(ScrollPosition position);
    bool AtEnd() const;
    // What the user does to the scroll position and the selection decides following_; the
    // view's own changes (inserting, trimming, scrolling to the caret) do not.
    void OnScrollAction();
    void OnScrolled(int value);
    void OnSelectionChanged();

    // Set around the view's own changes of its text, caret and scroll position.
    class OwnChange {
    public:
        explicit OwnChange(TLogBufferView& view) : view_(view) { ++view_.ownChanges_; }
        ~OwnChange() { --view_.ownChanges_; }
        OwnChange(const OwnChange&) = delete;
        OwnChange& operator=(const OwnChange&) = delete;

    private:
        TLogBufferView& view_;
    };

    std::int64_t length_ = 0;
    // The last stored line had its line end, which is not yet in the document.
    bool lineEndPending_ = false;
    bool following_ = true;
    int ownChanges_ = 0;
    // Show Only Selected: the tags (BlockTag) of the Connections shown.
    bool filtering_ = false;
    std::unordered_set<int> shownTags_;
};

// 0x00BBGGRR to a QColor.
QColor ToQColor(log::Colour colour);

}  // namespace corvane::ui
