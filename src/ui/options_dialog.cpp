#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "control/settings.h"
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
    auto* captureRow = new QWidget(this);
    auto* captureLayout = new QHBoxLayout(captureRow);
    captureLayout->setContentsMargins(0, 0, 0, 0);
    EditCaptureFile = new QLineEdit(values.captureFile, captureRow);
    EditCaptureFile->setObjectName(QStringLiteral("EditCaptureFile"));
    EditCaptureFile->setMaxLength(static_cast<int>(control::kLogFileLimit));
    EditCaptureFile->setToolTip(
        QStringLiteral("Every relayed stream as a pcap file for Wireshark; empty for none"));
    ButtonCaptureBrowse = new QPushButton(QStringLiteral("B&rowse..."), captureRow);
    ButtonCaptureBrowse->setObjectName(QStringLiteral("ButtonCaptureBrowse"));
    ButtonCaptureBrowse->setAutoDefault(false);
    connect(ButtonCaptureBrowse, &QPushButton::clicked, this, [this] { BrowseCaptureFile(); });
    captureLayout->addWidget(EditCaptureFile, 1);
    captureLayout->addWidget(ButtonCaptureBrowse);
    AddRow(QStringLiteral("&Capture File:"), captureRow, false);

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
}

void TOptionsDialog::AddRow(const QString& caption, QWidget* field, bool changesMidRun) {
    auto* label = new QLabel(caption, this);
    label->setBuddy(field);
    form_->addRow(label, field);
    if (relaying_ && !changesMidRun) {
        label->setEnabled(false);
        field->setEnabled(false);
        anyGreyed_ = true;
    }
}

OptionValues TOptionsDialog::Values() const {
    OptionValues values;
    values.timeStamps = CheckBoxTimeStamps->isChecked();
    values.listenAddress = EditListenAddress->text().trimmed().toStdString();
    values.halfClose = CheckBoxHalfClose->isChecked();
    values.captureFile = EditCaptureFile->text();
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

}  // namespace corvane::ui
