#include "ui/find_bar.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>

namespace corvane::ui {

namespace {

QToolButton* MakeButton(QWidget* parent, const char* name, const QString& text,
                        const QString& tip) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setToolTip(tip);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    return button;
}

}  // namespace

TFindBar::TFindBar(QWidget* parent, QPlainTextEdit* view) : QWidget(parent), view_(view) {
    setObjectName(QStringLiteral("FindBar"));
    auto* row = new QHBoxLayout(this);
    // The view's own margins, so that the bar lines up under it.
    row->setContentsMargins(10, 4, 10, 0);
    row->setSpacing(4);

    auto* label = new QLabel(QStringLiteral("Fi&nd:"), this);
    EditFind = new QLineEdit(this);
    EditFind->setObjectName(QStringLiteral("EditFind"));
    EditFind->setMinimumWidth(120);
    label->setBuddy(EditFind);
    ButtonFindNext = MakeButton(this, "ButtonFindNext", QStringLiteral("Next"),
                                QStringLiteral("Find the next match (F3, Enter)"));
    ButtonFindPrevious = MakeButton(this, "ButtonFindPrevious", QStringLiteral("Previous"),
                                    QStringLiteral("Find the previous match (Shift+F3)"));
    CheckBoxMatchCase = new QCheckBox(QStringLiteral("Match &case"), this);
    CheckBoxMatchCase->setObjectName(QStringLiteral("CheckBoxMatchCase"));
    LabelFindStatus = new QLabel(this);
    LabelFindStatus->setObjectName(QStringLiteral("LabelFindStatus"));
    // The bar must fit the window's design width: the status never widens it.
    LabelFindStatus->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ButtonFindClose = MakeButton(this, "ButtonFindClose", QStringLiteral("Close"),
                                 QStringLiteral("Close the find bar (Escape)"));
    row->addWidget(label);
    row->addWidget(EditFind, 1);
    row->addWidget(ButtonFindNext);
    row->addWidget(ButtonFindPrevious);
    row->addWidget(CheckBoxMatchCase);
    row->addWidget(LabelFindStatus, 1);
    row->addWidget(ButtonFindClose);

    connect(ButtonFindNext, &QToolButton::clicked, this, [this] { FindNext(); });
    connect(ButtonFindPrevious, &QToolButton::clicked, this, [this] { FindPrevious(); });
    connect(ButtonFindClose, &QToolButton::clicked, this, &TFindBar::Close);
    connect(EditFind, &QLineEdit::textChanged, LabelFindStatus, &QLabel::clear);
    // Active only while the bar is shown: a hidden widget's shortcuts do not fire.
    auto* next = new QShortcut(QKeySequence(Qt::Key_F3), this);
    connect(next, &QShortcut::activated, this, [this] { FindNext(); });
    auto* previous = new QShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), this);
    connect(previous, &QShortcut::activated, this, [this] { FindPrevious(); });
    auto* close = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(close, &QShortcut::activated, this, &TFindBar::Close);
    hide();
}

void TFindBar::Open() {
    show();
    EditFind->setFocus(Qt::ShortcutFocusReason);
    EditFind->selectAll();
}

void TFindBar::Close() {
    hide();
    LabelFindStatus->clear();
    view_->setFocus(Qt::OtherFocusReason);
}

bool TFindBar::FindNext() {
    return Find(false);
}

bool TFindBar::FindPrevious() {
    return Find(true);
}

bool TFindBar::Find(bool backward) {
    const QString text = EditFind->text();
    if (text.isEmpty()) {
        LabelFindStatus->clear();
        return false;
    }
    QTextDocument::FindFlags flags;
    if (backward) {
        flags |= QTextDocument::FindBackward;
    }
    if (CheckBoxMatchCase->isChecked()) {
        flags |= QTextDocument::FindCaseSensitively;
    }
    const QTextDocument* document = view_->document();
    // A match in a line that Show Only Selected hides is passed over.
    const auto findShown = [&](const QTextCursor& from) {
        QTextCursor match = document->find(text, from, flags);
        while (!match.isNull() && !match.block().isVisible()) {
            match = document->find(text, match, flags);
        }
        return match;
    };
    // From the selection (the last match) on; past the end, once more from the other end.
    QTextCursor found = findShown(view_->textCursor());
    bool wrapped = false;
    if (found.isNull()) {
        QTextCursor from(view_->document());
        from.movePosition(backward ? QTextCursor::End : QTextCursor::Start);
        found = findShown(from);
        wrapped = !found.isNull();
    }
    if (found.isNull()) {
        LabelFindStatus->setText(QString::fromLatin1(kFindNotFound));
        return false;
    }
    view_->setTextCursor(found);
    view_->ensureCursorVisible();
    LabelFindStatus->setText(
        wrapped ? QString::fromLatin1(backward ? kFindWrappedToEnd : kFindWrappedToTop)
                : QString());
    return true;
}

void TFindBar::keyPressEvent(QKeyEvent* event) {
    // The text box leaves Enter to its parent: it finds the next match here and goes no
    // further, since the window's Enter presses Start.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        FindNext();
        return;
    }
    QWidget::keyPressEvent(event);
}

}  // namespace corvane::ui
