// The Browse dialog of the Log File: a save dialog titled "Browse" with the Web Pages, Text
// Files and All Files filters, "txt" added to a name typed without an extension, and a
// read-only file refused.
#pragma once

#include <QFileDialog>

namespace corvane::ui {

class TBrowseDialog final : public QFileDialog {
    Q_OBJECT
public:
    // Opens on fileName (the Log File box's text; may be empty or relative).
    TBrowseDialog(QWidget* parent, const QString& fileName);
    // The same for another kind of file: its filters (the first selected) and the suffix
    // added to a name typed without one.
    TBrowseDialog(QWidget* parent, const QString& fileName, const QStringList& filters,
                  const QString& suffix);

    // The text the user would confirm now (the chosen file, as an absolute name).
    QString ChosenFile() const;

public Q_SLOTS:
    // A read-only file cannot be chosen: the user is told and the dialog stays open.
    void accept() override;
};

}  // namespace corvane::ui
