// TForm1 and the Network Conditions: the indicator under the counters, which says in the
// Error colour that the relay is slow or breaks on purpose, and the dialog that sets them.
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

#include "relay/conditions/conditions_text.h"
#include "ui/conditions_dialog.h"
#include "ui/form1.h"
#include "ui/hints.h"

namespace corvane::ui {

void TForm1::BuildConditionsIndicator() {
    // Beside "Log Buffer:", under the counters it qualifies: a conditioned Server must not be
    // taken for a slow one. Hidden while no condition is on, so the window is as designed.
    LabelConditions = new QLabel(QStringLiteral("Network Conditions on"), Panel3);
    LabelConditions->setObjectName(QStringLiteral("LabelConditions"));
    QFont bold = LabelConditions->font();
    bold.setBold(true);
    LabelConditions->setFont(bold);
    LabelConditions->setStyleSheet(QStringLiteral("color: #ff0000;"));  // the Error colour
    LabelConditions->move(455, 140);
    LabelConditions->adjustSize();
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
