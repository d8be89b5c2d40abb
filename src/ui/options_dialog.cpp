#include "ui/options_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QVBoxLayout>

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
    return values;
}

}  // namespace corvane::ui
