// Hints: one text per control, "short|long". The short part is the tooltip, the long part
// goes to status bar panel 0 while the pointer is over the control or a menu item is
// highlighted. A hint without "|" is both.
#pragma once

#include <QString>

class QAction;
class QObject;
class QWidget;

namespace corvane::ui {

// The part before the first "|" (the whole hint when it has none).
QString ShortHint(const QString& hint);
// The part after the first "|" (the whole hint when it has none).
QString LongHint(const QString& hint);

// Stores the hint on the control: its "hint" property, the tooltip (short part; none when
// empty) and the status tip (the whole hint; ShowLongHint cuts it).
void SetHint(QWidget& widget, const QString& hint);
void SetHint(QAction& action, const QString& hint);
QString HintOf(const QObject& control);

}  // namespace corvane::ui
