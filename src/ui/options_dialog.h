// The Options dialog (Tools > Options...): the settings that the Parameters do not show, one
// row each in a form. OK hands the values back for the window to apply (they are saved with
// the other settings when the window closes); Cancel changes nothing. While relaying, the
// rows of options that cannot change mid-run are greyed and a note says why.
#pragma once

#include <QDialog>
#include <cstdint>
#include <string>
#include <vector>

#include <QString>

class QCheckBox;
class QComboBox;
class QDialogButtonBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace corvane::ui {

// What the dialog shows and gives back.
struct OptionValues {
    bool timeStamps = false;
    std::string listenAddress;  // empty: every interface
    bool halfClose = false;
    QString captureFile;              // empty: none
    std::int64_t keepStreamsMiB = 0;  // Keep Streams in MiB; 0 keeps none
    // 0 None, 1 Client, 2 Server, 3 Both (Settings::Tls); the certificate and key files
    // (empty: Corvane's self-signed pair); whether the Server's certificate is checked.
    int tls = 0;
    QString tlsCert;
    QString tlsKey;
    bool tlsVerify = false;
    // Rotation of the Log File and the Capture File: a rule as "-rotate" takes it (empty:
    // none), and the parts kept of each (0: all).
    QString rotate;
    unsigned partsKept = 0;
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
    QSpinBox* SpinKeepStreams;  // MiB, 0 "Off"; greyed while relaying
    // TLS: the sides (items None, Client, Server, Both), the certificate and key shown to
    // Clients with their Browse buttons (open only with the Client's side), and the check of
    // the Server's certificate (open only with the Server's side); all greyed while relaying.
    QComboBox* ComboTls;
    QLineEdit* EditTlsCert;
    QPushButton* ButtonTlsCertBrowse;
    QLineEdit* EditTlsKey;
    QPushButton* ButtonTlsKeyBrowse;
    QCheckBox* CheckBoxTlsVerify;
    // The rotation rule (OK is open only while it reads as one) and the parts kept; greyed
    // while relaying, since Start opens the files.
    QLineEdit* EditRotate;
    QSpinBox* SpinPartsKept;
    QLabel* LabelNote;  // shown only while relaying greys a row
    QDialogButtonBox* Buttons;

private:
    // Adds a row; one that cannot change mid-run is greyed while relaying. Gives the label.
    QLabel* AddRow(const QString& caption, QWidget* field, bool changesMidRun);
    // A file name box with a Browse button beside it, as one field.
    QWidget* FileRow(QLineEdit* edit, QPushButton* browse);
    // The save dialog for the Capture File; the chosen name goes into its box.
    void BrowseCaptureFile();
    // An open dialog for a PEM file; the chosen name goes into the box.
    void BrowsePemFile(QLineEdit* edit);
    // Opens the certificate's rows for a TLS choice with the Client's side, and the check of
    // the Server's certificate for one with the Server's side (unless relaying greys them).
    void ShowTlsRows();
    // OK is open while the Rotate box holds a rule.
    void CheckRotate();

    QFormLayout* form_;
    QWidget* tlsCertRow_ = nullptr;
    QWidget* tlsKeyRow_ = nullptr;
    QLabel* tlsCertLabel_ = nullptr;
    QLabel* tlsKeyLabel_ = nullptr;
    bool relaying_;
    bool anyGreyed_ = false;
};

}  // namespace corvane::ui
