// The find bar under the Log Buffer (Edit > Find..., Ctrl+F): a text box, Next (F3, Enter),
// Previous (Shift+F3), Match case and Close (Escape). It searches the text the view shows;
// a match is selected and scrolled into view, the search wraps at either end and says so,
// and "Not found" is shown when nothing matches. Hidden, it takes no room.
#pragma once

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QToolButton;

namespace corvane::ui {

inline constexpr const char* kFindNotFound = "Not found";
inline constexpr const char* kFindWrappedToTop = "Continued from the top";
inline constexpr const char* kFindWrappedToEnd = "Continued from the end";

class TFindBar final : public QWidget {
    Q_OBJECT
public:
    TFindBar(QWidget* parent, QPlainTextEdit* view);

    // Shows the bar with the focus in its text box, the text selected.
    void Open();
    // Hides the bar; the focus goes back to the view.
    void Close();
    // The next or previous match from the view's caret or selection, wrapping at the ends.
    // False when nothing matches.
    bool FindNext();
    bool FindPrevious();

    QLineEdit* EditFind;
    QToolButton* ButtonFindNext;
    QToolButton* ButtonFindPrevious;
    QCheckBox* CheckBoxMatchCase;
    QToolButton* ButtonFindClose;
    QLabel* LabelFindStatus;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool Find(bool backward);

    QPlainTextEdit* view_;
};

}  // namespace corvane::ui
