#include "ui/hints.h"

#include <QAction>
#include <QVariant>
#include <QWidget>

namespace corvane::ui {

namespace {
const char* const kHintProperty = "hint";
}

QString ShortHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.left(bar);
}

QString LongHint(const QString& hint) {
    const qsizetype bar = hint.indexOf(QLatin1Char('|'));
    return bar < 0 ? hint : hint.mid(bar + 1);
}

void SetHint(QWidget& widget, const QString& hint) {
    widget.setProperty(kHintProperty, hint);
    widget.setToolTip(ShortHint(hint));
    widget.setStatusTip(hint);
}

void SetHint(QAction& action, const QString& hint) {
    action.setProperty(kHintProperty, hint);
    // Menu items show no tooltips; the status tip carries the hint to panel 0.
    action.setToolTip(QString());
    action.setStatusTip(hint);
}

QString HintOf(const QObject& control) {
    return control.property(kHintProperty).toString();
}

}  // namespace corvane::ui
