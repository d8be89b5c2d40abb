#include "ui/options_dialog.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "control/settings.h"
#include "log/rotation.h"
#include "ui/browse_dialog.h"

namespace corvane::ui {

TOptionsDialog::TOptionsDialog(QWidget* parent, const OptionValues& values, bool relaying)
    : QDialog(parent), relaying_(relaying) {
    setObjectName(QStringLiteral("OptionsDialog"));
    setWindowTitle(QStringLiteral("Options"));
    auto* column = new QVBoxLayout(this);
    form_ = new QFormLayout;
    form_->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    form_->setLabelAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    column->addLayout(form_);

    CheckBoxTimeStamps =
        new QCheckBox(QStringLiteral("Begin each message line with its time (HH:MM:SS.mmm)"), this);
    CheckBoxTimeStamps->setObjectName(QStringLiteral("CheckBoxTimeStamps"));
    CheckBoxTimeStamps->setChecked(values.timeStamps);
    CheckBoxTimeStamps->setToolTip(
        QStringLiteral("In the Log Buffer and the Log File; takes effect with the next line, "
                       "also while relaying"));
    AddRow(QStringLiteral("&Time Stamps:"), CheckBoxTimeStamps, true);

    EditListenAddress = new QLineEdit(QString::fromStdString(values.listenAddress), this);
    EditListenAddress->setObjectName(QStringLiteral("EditListenAddress"));
    EditListenAddress->setMaxLength(static_cast<int>(control::kListenAddressLimit));
    EditListenAddress->setPlaceholderText(QStringLiteral("every interface"));
    EditListenAddress->setToolTip(
        QStringLiteral("The address the Local Port is opened on: 127.0.0.1 or ::1 keeps the "
                       "relay to this computer; empty lets every computer that reaches this "
                       "one connect"));
    AddRow(QStringLiteral("&Listen Address:"), EditListenAddress, false);

    CheckBoxHalfClose =
        new QCheckBox(QStringLiteral("A peer's close ends only what it sends"), this);
    CheckBoxHalfClose->setObjectName(QStringLiteral("CheckBoxHalfClose"));
    CheckBoxHalfClose->setChecked(values.halfClose);
    CheckBoxHalfClose->setToolTip(
        QStringLiteral("The other peer is told, and the other direction goes on until it "
                       "ends too"));
    AddRow(QStringLiteral("&Half Close:"), CheckBoxHalfClose, false);

    EditCaptureFile = new QLineEdit(values.captureFile, this);
    EditCaptureFile->setObjectName(QStringLiteral("EditCaptureFile"));
    EditCaptureFile->setToolTip(
        QStringLiteral("Every relayed stream as a pcap file for Wireshark; empty for none"));
    ButtonCaptureBrowse = new QPushButton(QStringLiteral("B&rowse..."), this);
    ButtonCaptureBrowse->setObjectName(QStringLiteral("ButtonCaptureBrowse"));
    connect(ButtonCaptureBrowse, &QPushButton::clicked, this, [this] { BrowseCaptureFile(); });
    // The caption's mnemonic goes to the box, not to the row that holds it.
    AddRow(QStringLiteral("&Capture File:"), FileRow(EditCaptureFile, ButtonCaptureBrowse), false)
        ->setBuddy(EditCaptureFile);

    // Keep Streams: the bound of the store of passed-on bytes that Follow and Save read.
    SpinKeepStreams = new QSpinBox(this);
    SpinKeepStreams->setObjectName(QStringLiteral("SpinKeepStreams"));
    SpinKeepStreams->setRange(0, 1 << 20);
    SpinKeepStreams->setSuffix(QStringLiteral(" MiB"));
    SpinKeepStreams->setSpecialValueText(QStringLiteral("Off"));
    SpinKeepStreams->setValue(static_cast<int>(values.keepStreamsMiB));
    SpinKeepStreams->setToolTip(
        QStringLiteral("Every byte passed on is kept on disk up to this size, for Follow and "
                       "Save in the Connections pane; the oldest Connections go first"));
    AddRow(QStringLiteral("Keep St&reams:"), SpinKeepStreams, false);

    ComboTls = new QComboBox(this);
    ComboTls->setObjectName(QStringLiteral("ComboTls"));
    ComboTls->addItems({QStringLiteral("None"), QStringLiteral("Client"), QStringLiteral("Server"),
                        QStringLiteral("Both")});
    ComboTls->setCurrentIndex(values.tls & 3);
    ComboTls->setToolTip(
        QStringLiteral("The sides Corvane talks TLS on, so that the log shows the plain bytes: "
                       "Client, the Clients connect with TLS; Server, Corvane connects to the "
                       "Server with TLS; Both, the two"));
    AddRow(QStringLiteral("TL&S:"), ComboTls, false);

    EditTlsCert = new QLineEdit(values.tlsCert, this);
    EditTlsCert->setObjectName(QStringLiteral("EditTlsCert"));
    EditTlsCert->setPlaceholderText(QStringLiteral("Corvane's own, self-signed"));
    EditTlsCert->setToolTip(
        QStringLiteral("The certificate (PEM) that Clients are shown; empty for the one Corvane "
                       "makes in %1")
            .arg(QStringLiteral("~/.config/Halvard/")));
    ButtonTlsCertBrowse = new QPushButton(QStringLiteral("Br&owse..."), this);
    ButtonTlsCertBrowse->setObjectName(QStringLiteral("ButtonTlsCertBrowse"));
    connect(ButtonTlsCertBrowse, &QPushButton::clicked, this,
            [this] { BrowsePemFile(EditTlsCert); });
    tlsCertRow_ = FileRow(EditTlsCert, ButtonTlsCertBrowse);
    tlsCertLabel_ = AddRow(QStringLiteral("TLS C&ertificate:"), tlsCertRow_, false);
    tlsCertLabel_->setBuddy(EditTlsCert);

    EditTlsKey = new QLineEdit(values.tlsKey, this);
    EditTlsKey->setObjectName(QStringLiteral("EditTlsKey"));
    EditTlsKey->setPlaceholderText(QStringLiteral("Corvane's own"));
    EditTlsKey->setToolTip(QStringLiteral(
        "The private key (PEM) of the certificate; empty when it is in the certificate's file"));
    ButtonTlsKeyBrowse = new QPushButton(QStringLiteral("Bro&wse..."), this);
    ButtonTlsKeyBrowse->setObjectName(QStringLiteral("ButtonTlsKeyBrowse"));
    connect(ButtonTlsKeyBrowse, &QPushButton::clicked, this, [this] { BrowsePemFile(EditTlsKey); });
    tlsKeyRow_ = FileRow(EditTlsKey, ButtonTlsKeyBrowse);
    tlsKeyLabel_ = AddRow(QStringLiteral("TLS &Key:"), tlsKeyRow_, false);
    tlsKeyLabel_->setBuddy(EditTlsKey);

    CheckBoxTlsVerify = new QCheckBox(QStringLiteral("&Verify the Server's certificate"), this);
    CheckBoxTlsVerify->setObjectName(QStringLiteral("CheckBoxTlsVerify"));
    CheckBoxTlsVerify->setChecked(values.tlsVerify);
    CheckBoxTlsVerify->setToolTip(
        QStringLiteral("Against the system's trusted certificates and the Remote Host's name; "
                       "unchecked, any certificate is taken"));
    AddRow(QString(), CheckBoxTlsVerify, false);
    connect(ComboTls, &QComboBox::currentIndexChanged, this, [this] { ShowTlsRows(); });
    ShowTlsRows();

    EditRotate = new QLineEdit(values.rotate, this);
    EditRotate->setObjectName(QStringLiteral("EditRotate"));
    EditRotate->setMaxLength(static_cast<int>(control::kRotateLimit));
    EditRotate->setPlaceholderText(QStringLiteral("one file each; or 1h, 100M, 1h,100M"));
    EditRotate->setToolTip(QStringLiteral(
        "Write the Log File and the Capture File in parts named after their start time: a "
        "new part at a size (K, M, G), at each boundary of a period (s, m, h, d: 1h begins "
        "parts at each full hour), or at either"));
    AddRow(QStringLiteral("Rot&ate:"), EditRotate, false);

    SpinPartsKept = new QSpinBox(this);
    SpinPartsKept->setObjectName(QStringLiteral("SpinPartsKept"));
    SpinPartsKept->setRange(0, 1000000);
    SpinPartsKept->setSpecialValueText(QStringLiteral("All"));
    SpinPartsKept->setValue(static_cast<int>(std::min(values.partsKept, 1000000u)));
    SpinPartsKept->setToolTip(
        QStringLiteral("The newest parts of each file that are kept; older ones are deleted"));
    AddRow(QStringLiteral("&Parts Kept:"), SpinPartsKept, false);

    LabelNote = new QLabel(
        QStringLiteral("Options shown greyed cannot be changed while relaying; Stop first."), this);
    LabelNote->setObjectName(QStringLiteral("LabelOptionsNote"));
    LabelNote->setWordWrap(true);
    LabelNote->setVisible(anyGreyed_);
    column->addWidget(LabelNote);

    column->addStretch(1);
    Buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    Buttons->setObjectName(QStringLiteral("OptionsButtons"));
    connect(Buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(Buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    column->addWidget(Buttons);
    connect(EditRotate, &QLineEdit::textChanged, this, [this] { CheckRotate(); });
    CheckRotate();
}

void TOptionsDialog::CheckRotate() {
    const bool rule = log::ParseRotation(EditRotate->text().trimmed().toStdString()).has_value();
    EditRotate->setStyleSheet(rule ? QString() : QStringLiteral("color: red"));
    Buttons->button(QDialogButtonBox::Ok)->setEnabled(rule);
}

QLabel* TOptionsDialog::AddRow(const QString& caption, QWidget* field, bool changesMidRun) {
    auto* label = new QLabel(caption, this);
    label->setBuddy(field);
    form_->addRow(label, field);
    if (relaying_ && !changesMidRun) {
        label->setEnabled(false);
        field->setEnabled(false);
        anyGreyed_ = true;
    }
    return label;
}

QWidget* TOptionsDialog::FileRow(QLineEdit* edit, QPushButton* browse) {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    edit->setParent(row);
    edit->setMaxLength(static_cast<int>(control::kLogFileLimit));
    browse->setParent(row);
    browse->setAutoDefault(false);
    layout->addWidget(edit, 1);
    layout->addWidget(browse);
    return row;
}

void TOptionsDialog::ShowTlsRows() {
    if (relaying_) {
        return;  // greyed as a whole
    }
    const int sides = ComboTls->currentIndex();
    const bool client = (sides & 1) != 0;
    for (QWidget* widget : {static_cast<QWidget*>(tlsCertLabel_), tlsCertRow_,
                            static_cast<QWidget*>(tlsKeyLabel_), tlsKeyRow_}) {
        widget->setEnabled(client);
    }
    CheckBoxTlsVerify->setEnabled((sides & 2) != 0);
}

OptionValues TOptionsDialog::Values() const {
    OptionValues values;
    values.timeStamps = CheckBoxTimeStamps->isChecked();
    values.listenAddress = EditListenAddress->text().trimmed().toStdString();
    values.halfClose = CheckBoxHalfClose->isChecked();
    values.captureFile = EditCaptureFile->text();
    values.keepStreamsMiB = SpinKeepStreams->value();
    values.tls = ComboTls->currentIndex();
    values.tlsCert = EditTlsCert->text();
    values.tlsKey = EditTlsKey->text();
    values.tlsVerify = CheckBoxTlsVerify->isChecked();
    values.rotate = EditRotate->text().trimmed();
    values.partsKept = static_cast<unsigned>(SpinPartsKept->value());
    return values;
}

void TOptionsDialog::BrowseCaptureFile() {
    TBrowseDialog browse(
        this, EditCaptureFile->text(),
        {QStringLiteral("Capture Files (*.pcap)"), QStringLiteral("All Files (*)")},
        QStringLiteral("pcap"));
    if (browse.exec() == QDialog::Accepted) {
        EditCaptureFile->setText(browse.ChosenFile());
    }
}

void TOptionsDialog::BrowsePemFile(QLineEdit* edit) {
    QFileDialog open(this, QStringLiteral("Browse"));
    open.setObjectName(QStringLiteral("PemBrowseDialog"));
    open.setAcceptMode(QFileDialog::AcceptOpen);
    open.setFileMode(QFileDialog::ExistingFile);
    // Our own dialog, as the other Browse dialogs.
    open.setOption(QFileDialog::DontUseNativeDialog, true);
    open.setNameFilters(
        {QStringLiteral("PEM Files (*.pem *.crt *.key)"), QStringLiteral("All Files (*)")});
    if (!edit->text().isEmpty()) {
        const QFileInfo info(edit->text());
        open.setDirectory(info.absoluteDir());
        open.selectFile(info.fileName());
    }
    if (open.exec() == QDialog::Accepted && !open.selectedFiles().isEmpty()) {
        edit->setText(open.selectedFiles().constFirst());
    }
}

}  // namespace corvane::ui
