// The Options dialog (Tools > Options...): the settings that the Parameters do not show, one
// row each in a form. OK hands the values back for the window to apply (they are saved with
// the other settings when the window closes); Cancel changes nothing. While relaying, the
// rows of options that cannot change mid-run are greyed and a note says why.
#pragma once

#include <QDialog>
#include <string>
#include <vector>

#include <QString>

class QCheckBox;
class QLineEdit;
class QDialogButtonBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane::ui {

// What the dialog shows and gives back.
struct OptionValues {
    bool timeStamps = false;
    std::string listenAddress;  // empty: every interface
    bool halfClose = false;
    QString captureFile;  // empty: none
};

class TOptionsDialog final : public QDialog {
    Q_OBJECT
public:
    TOptionsDialog(QWidget* parent, const OptionValues& values, bool relaying);

    // The values as the dialog shows them (what OK applies).
    OptionValues Values() const;

    QCheckBox* CheckBoxTimeStamps;
    QLineEdit* EditListenAddress;  // greyed while relaying, as is Half Close
    QCheckBox* CheckBoxHalfClose;
    // The Capture File's name and its Browse button; greyed while relaying (the file is
    // opened at Start).
    QLineEdit* EditCaptureFile;
    QPushButton* ButtonCaptureBrowse;
    QLabel* LabelNote;  // shown only while relaying greys a row
    QDialogButtonBox* Buttons;

private:
    // Adds a row; one that cannot change mid-run is greyed while relaying.
    void AddRow(const QString& caption, QWidget* field, bool changesMidRun);
    // The save dialog for the Capture File; the chosen name goes into its box.
    void BrowseCaptureFile();

    QFormLayout* form_;
    bool relaying_;
    bool anyGreyed_ = false;
};

}  // namespace corvane::ui
