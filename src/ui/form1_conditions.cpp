// TForm1 and the Network Conditions: the indicator in the status bar, which says in the
// Error colour that the relay is slow or breaks on purpose, and the dialog that sets them.
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStatusBar>

#include "relay/conditions/conditions_text.h"
#include "ui/conditions_dialog.h"
#include "ui/form1.h"
#include "ui/hints.h"

namespace corvane::ui {

void TForm1::BuildConditionsIndicator() {
    // A fourth panel of the status bar, after the relay's state: a conditioned Server must not
    // be taken for a slow one. Hidden while no condition is on, so the bar is as designed.
    LabelConditions = new QLabel(QStringLiteral("Conditions on"), statusBar());
    LabelConditions->setObjectName(QStringLiteral("LabelConditions"));
    LabelConditions->setFrameShape(QFrame::Panel);
    LabelConditions->setFrameShadow(QFrame::Sunken);
    LabelConditions->setContentsMargins(2, 0, 2, 0);
    QFont bold = LabelConditions->font();
    bold.setBold(true);
    LabelConditions->setFont(bold);
    LabelConditions->setStyleSheet(QStringLiteral("color: #ff0000;"));  // the Error colour
    statusBar()->addWidget(LabelConditions);
    LabelConditions->hide();
}

void TForm1::ShowConditions(const relay::Conditions& set) {
    LabelConditions->setVisible(set.On());
    SetHint(*LabelConditions,
            QStringLiteral("Tools > Network Conditions...|Network Conditions: ") +
                QString::fromStdString(FormatConditions(set, relay::ConditionsLayout::OneLine)));
}

void TForm1::ShowConditionsDialog() {
    if (conditionsDialog_ == nullptr) {
        conditionsDialog_ = new TConditionsDialog(this, *control_);
        conditionsDialog_->adjustSize();
        // Beside the window, on its right where the screen has room, else on its left.
        const QRect frame = frameGeometry();
        const QRect area = screen() != nullptr ? screen()->availableGeometry() : QRect();
        const int width = conditionsDialog_->frameGeometry().width();
        int x = frame.right() + 1;
        if (!area.isEmpty() && x + width > area.right()) {
            x = std::max(area.left(), frame.left() - width);
        }
        conditionsDialog_->move(x, frame.top());
    } else if (!conditionsDialog_->isVisible()) {
        conditionsDialog_->Refresh();
    }
    conditionsDialog_->show();
    conditionsDialog_->raise();
    conditionsDialog_->activateWindow();
}

}  // namespace corvane::ui
