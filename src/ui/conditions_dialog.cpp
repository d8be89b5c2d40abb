#include "ui/conditions_dialog.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <array>
#include <charconv>

#include "control/conditions_presets.h"
#include "control/relay_control.h"
#include "relay/conditions/conditions_text.h"
#include "relay/conditions/presets.h"
#include "relay/conditions/values.h"

namespace corvane::ui {
namespace {

// The Error colour of the log, for the message line and a marked box.
const QString kErrorStyle = QStringLiteral("color: #ff0000;");

enum class Unit { Time, Amount, Percent, Whole };

QString UnitProblem(Unit unit) {
    switch (unit) {
        case Unit::Time:
            return QStringLiteral("is not a time in ms (0 to 86,400,000, at most three decimals)");
        case Unit::Amount:
            return QStringLiteral(
                "is not a number of bytes (K, M and G for 1,000, 1,000,000 and 1,000,000,000)");
        case Unit::Percent:
            return QStringLiteral("is not a percentage (0 to 100, at most four decimals)");
        case Unit::Whole:
            break;
    }
    return QStringLiteral("is not a whole number (0 to 18446744073709551615)");
}

bool IsUnit(const std::string& text, Unit unit) {
    std::int64_t number = 0;
    std::uint32_t ppm = 0;
    std::uint64_t whole = 0;
    switch (unit) {
        case Unit::Time:
            return relay::ParseTime(text, number);
        case Unit::Amount:
            return relay::ParseAmount(text, number);
        case Unit::Percent:
            return relay::ParsePercent(text, ppm);
        case Unit::Whole:
            break;
    }
    const char* end = text.data() + text.size();
    const auto [at, error] = std::from_chars(text.data(), end, whole);
    return error == std::errc{} && at == end;
}

// Reads boxes into a set through the switch grammar, so that the dialog's set is exactly what
// a conditions file with the same values gives. The first problem stops it.
class SetReader {
public:
    // The box's text (trimmed; empty for an empty box) when it is a value of unit.
    bool Box(QLineEdit* box, Unit unit, const QString& what, std::string& text) {
        text = box->text().trimmed().toStdString();
        if (text.empty() || IsUnit(text, unit)) {
            return true;
        }
        return Fail(
            QStringLiteral("%1: \"%2\" %3").arg(what, box->text().trimmed(), UnitProblem(unit)),
            box);
    }
    bool Switch(std::string_view name, const std::string& value, const QString& what,
                QLineEdit* box) {
        std::string refused;
        return relay::ApplyConditionSwitch(name, value, set, refused) ||
               Fail(what + QStringLiteral(": ") + QString::fromStdString(refused), box);
    }
    bool Fail(const QString& text, QLineEdit* box) {
        problem = text;
        bad = box;
        return false;
    }

    relay::Conditions set;
    QString problem;
    QLineEdit* bad = nullptr;
};

std::string Or(const std::string& text, const char* otherwise) {
    return text.empty() ? std::string(otherwise) : text;
}

std::string EndingSuffix(const QComboBox* ending) {
    return ending->currentIndex() == 1 ? ",reset" : "";
}

bool ReadDirection(SetReader& r, const DirectionBoxes& b, const std::string& prefix,
                   const QString& side) {
    std::string latency, jitter, bandwidth, size, variation, pause, loss, limit;
    const QString latencyWhat = side + QStringLiteral(" latency");
    const QString sliceWhat = side + QStringLiteral(" slicing");
    if (!r.Box(b.Latency, Unit::Time, latencyWhat, latency) ||
        !r.Box(b.Jitter, Unit::Time, side + QStringLiteral(" jitter"), jitter) ||
        !r.Box(b.Bandwidth, Unit::Amount, side + QStringLiteral(" bandwidth"), bandwidth) ||
        !r.Box(b.SliceSize, Unit::Amount, sliceWhat, size) ||
        !r.Box(b.SliceVariation, Unit::Amount, sliceWhat, variation) ||
        !r.Box(b.SlicePause, Unit::Time, sliceWhat, pause) ||
        !r.Box(b.Loss, Unit::Percent, side + QStringLiteral(" loss"), loss) ||
        !r.Box(b.Limit, Unit::Amount, side + QStringLiteral(" data limit"), limit)) {
        return false;
    }
    if (!latency.empty() || !jitter.empty()) {
        const bool normal = b.JitterShape->currentIndex() == 1;
        std::string value = Or(latency, "0");
        if (!jitter.empty() || normal) {
            value += "," + Or(jitter, "0");
        }
        if (normal) {
            value += ",normal";
        }
        if (!r.Switch("-latency", prefix + value, latencyWhat, b.Latency)) {
            return false;
        }
    }
    if (!bandwidth.empty() && !r.Switch("-bandwidth", prefix + bandwidth,
                                        side + QStringLiteral(" bandwidth"), b.Bandwidth)) {
        return false;
    }
    if (size.empty() && (!variation.empty() || !pause.empty())) {
        return r.Fail(sliceWhat + QStringLiteral(": the variation and the pause need a size"),
                      b.SliceSize);
    }
    if (!size.empty()) {
        std::string value = size;
        if (!variation.empty() || !pause.empty()) {
            value += "," + Or(variation, "0");
        }
        if (!pause.empty()) {
            value += "," + pause;
        }
        if (!r.Switch("-slice", prefix + value, sliceWhat, b.SliceSize)) {
            return false;
        }
    }
    if (!loss.empty() &&
        !r.Switch("-loss", prefix + loss, side + QStringLiteral(" loss"), b.Loss)) {
        return false;
    }
    return limit.empty() || r.Switch("-limit", prefix + limit + EndingSuffix(b.LimitEnding),
                                     side + QStringLiteral(" data limit"), b.Limit);
}

// A time, amount or percentage box's text for a value, empty when the condition is off.
QString TimeText(bool on, std::int64_t us) {
    return on ? QString::fromStdString(relay::FormatTime(us)) : QString();
}
QString AmountText(bool on, std::int64_t bytes) {
    return on ? QString::fromStdString(relay::FormatAmount(bytes)) : QString();
}
QString PercentText(bool on, std::uint32_t ppm) {
    return on ? QString::fromStdString(relay::FormatPercent(ppm)) : QString();
}

void ShowDirection(const DirectionBoxes& b, const relay::DirectionConditions& d) {
    b.Latency->setText(TimeText(d.latency.On(), d.latency.us));
    b.Jitter->setText(TimeText(d.latency.jitterUs != 0, d.latency.jitterUs));
    b.JitterShape->setCurrentIndex(d.latency.shape == relay::JitterShape::Normal ? 1 : 0);
    b.Bandwidth->setText(AmountText(d.bandwidth.On(), d.bandwidth.bytesPerSecond));
    b.SliceSize->setText(AmountText(d.slicing.On(), d.slicing.size));
    b.SliceVariation->setText(
        AmountText(d.slicing.On() && d.slicing.variation != 0, d.slicing.variation));
    b.SlicePause->setText(TimeText(
        d.slicing.On() && d.slicing.pauseUs != relay::kDefaultSlicePauseUs, d.slicing.pauseUs));
    b.Loss->setText(PercentText(d.loss.On(), d.loss.ppm));
    b.Limit->setText(AmountText(d.limit.On(), d.limit.bytes));
    b.LimitEnding->setCurrentIndex(d.limit.ending == relay::Ending::Reset ? 1 : 0);
}

const QStringList kEndings = {QStringLiteral("close"), QStringLiteral("reset")};

}  // namespace

TConditionsDialog::TConditionsDialog(QWidget* parent, control::RelayControl& control)
    : QDialog(parent), control_(control) {
    setObjectName(QStringLiteral("ConditionsDialog"));
    setWindowTitle(QStringLiteral("Network Conditions"));
    setModal(false);
    auto* column = new QVBoxLayout(this);

    auto* presets = new QHBoxLayout;
    ComboPreset = new QComboBox(this);
    ComboPreset->setObjectName(QStringLiteral("ComboPreset"));
    ComboPreset->setPlaceholderText(QStringLiteral("Custom"));
    ComboPreset->setMinimumContentsLength(16);
    ComboPreset->setToolTip(
        QStringLiteral("Choosing a preset puts it in force at once; the one chosen last is in "
                       "force again at the next start"));
    auto* presetLabel = new QLabel(QStringLiteral("&Preset:"), this);
    presetLabel->setBuddy(ComboPreset);
    EditPresetName = new QLineEdit(this);
    EditPresetName->setObjectName(QStringLiteral("EditPresetName"));
    EditPresetName->setMaxLength(static_cast<int>(control::kPresetNameLimit));
    EditPresetName->setPlaceholderText(QStringLiteral("name of your own"));
    EditPresetName->setToolTip(
        QStringLiteral("Saves the conditions shown as a conditions file in "
                       "~/.config/Halvard/conditions/, which corvane-cli reads with -conditions"));
    ButtonSavePreset = new QPushButton(QStringLiteral("&Save"), this);
    ButtonSavePreset->setObjectName(QStringLiteral("ButtonSavePreset"));
    ButtonSavePreset->setAutoDefault(false);
    auto* saveLabel = new QLabel(QStringLiteral("Save &as:"), this);
    saveLabel->setBuddy(EditPresetName);
    presets->addWidget(presetLabel);
    presets->addWidget(ComboPreset);
    presets->addSpacing(16);
    presets->addWidget(saveLabel);
    presets->addWidget(EditPresetName, 1);
    presets->addWidget(ButtonSavePreset);
    column->addLayout(presets);

    auto* groups = new QHBoxLayout;
    groups->addWidget(BuildDirections(), 0, Qt::AlignTop);
    groups->addWidget(BuildPerConnection(), 1, Qt::AlignTop);
    column->addLayout(groups);

    LabelProblem = new QLabel(this);
    LabelProblem->setObjectName(QStringLiteral("LabelConditionsProblem"));
    LabelProblem->setStyleSheet(kErrorStyle);
    LabelProblem->setWordWrap(true);
    LabelProblem->hide();
    column->addWidget(LabelProblem);

    auto* bottom = new QHBoxLayout;
    bottom->addStretch(1);
    ButtonClose = new QPushButton(QStringLiteral("Close"), this);
    ButtonClose->setObjectName(QStringLiteral("ButtonConditionsClose"));
    // Enter in a box applies it; no button of this dialog is pressed by it.
    ButtonClose->setAutoDefault(false);
    bottom->addWidget(ButtonClose);
    column->addLayout(bottom);

    connect(ButtonClose, &QPushButton::clicked, this, &QDialog::close);
    connect(ButtonSavePreset, &QPushButton::clicked, this, [this] { SavePreset(); });
    connect(EditPresetName, &QLineEdit::returnPressed, this, [this] { SavePreset(); });
    connect(ComboPreset, &QComboBox::currentIndexChanged, this,
            [this](int index) { ChoosePreset(index); });
    Refresh();
}

QLineEdit* TConditionsDialog::MakeBox(const QString& name, const QString& placeholder) {
    auto* box = new QLineEdit(this);
    box->setObjectName(name);
    box->setPlaceholderText(placeholder);
    box->setMaxLength(24);
    box->setFixedWidth(fontMetrics().horizontalAdvance(QStringLiteral("0000000.000")) + 12);
    connect(box, &QLineEdit::editingFinished, this, [this] { Apply(); });
    return box;
}

QComboBox* TConditionsDialog::MakeChoice(const QString& name, const QStringList& items) {
    auto* choice = new QComboBox(this);
    choice->setObjectName(name);
    choice->addItems(items);
    connect(choice, &QComboBox::currentIndexChanged, this, [this] { Apply(); });
    return choice;
}

DirectionBoxes TConditionsDialog::MakeDirection(QGridLayout* grid, int column, const char* prefix) {
    const QString p = QString::fromLatin1(prefix);
    const QString off = QStringLiteral("off");
    DirectionBoxes b{};
    b.Latency = MakeBox(QStringLiteral("Edit%1Latency").arg(p), off);
    b.Jitter = MakeBox(QStringLiteral("Edit%1Jitter").arg(p), QStringLiteral("0"));
    b.JitterShape = MakeChoice(QStringLiteral("Combo%1JitterShape").arg(p),
                               {QStringLiteral("uniform"), QStringLiteral("normal")});
    b.Bandwidth = MakeBox(QStringLiteral("Edit%1Bandwidth").arg(p), QStringLiteral("unlimited"));
    b.SliceSize = MakeBox(QStringLiteral("Edit%1SliceSize").arg(p), off);
    b.SliceVariation = MakeBox(QStringLiteral("Edit%1SliceVariation").arg(p), QStringLiteral("0"));
    b.SlicePause = MakeBox(QStringLiteral("Edit%1SlicePause").arg(p), QStringLiteral("1"));
    b.Loss = MakeBox(QStringLiteral("Edit%1Loss").arg(p), off);
    b.Limit = MakeBox(QStringLiteral("Edit%1Limit").arg(p), QStringLiteral("none"));
    b.LimitEnding = MakeChoice(QStringLiteral("Combo%1LimitEnding").arg(p), kEndings);
    QWidget* cells[] = {b.Latency,        b.Jitter,     b.Bandwidth, b.SliceSize,
                        b.SliceVariation, b.SlicePause, b.Loss,      b.Limit};
    for (int row = 0; row < static_cast<int>(std::size(cells)); ++row) {
        grid->addWidget(cells[row], row + 1, column);
    }
    grid->addWidget(b.JitterShape, 2, column + 1);
    grid->addWidget(b.LimitEnding, 8, column + 1);
    return b;
}

QWidget* TConditionsDialog::BuildDirections() {
    auto* group = new QGroupBox(QStringLiteral("Per direction"), this);
    group->setObjectName(QStringLiteral("GroupDirections"));
    auto* grid = new QGridLayout(group);
    const char* captions[] = {"&Latency (ms):",
                              "&Jitter (ms):",
                              "&Bandwidth (bytes/s):",
                              "Slice si&ze (bytes):",
                              "Slice &variation (bytes):",
                              "Slice pa&use (ms):",
                              "L&oss (%):",
                              "Data l&imit (bytes):"};
    grid->addWidget(new QLabel(QStringLiteral("Client to Server"), group), 0, 1, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Server to Client"), group), 0, 3, 1, 2);
    Up = MakeDirection(grid, 1, "Up");
    Down = MakeDirection(grid, 3, "Down");
    QLineEdit* upBoxes[] = {Up.Latency,        Up.Jitter,     Up.Bandwidth, Up.SliceSize,
                            Up.SliceVariation, Up.SlicePause, Up.Loss,      Up.Limit};
    for (int row = 0; row < static_cast<int>(std::size(captions)); ++row) {
        auto* label = new QLabel(QString::fromLatin1(captions[row]), group);
        label->setBuddy(upBoxes[row]);
        grid->addWidget(label, row + 1, 0);
    }
    return group;
}

QWidget* TConditionsDialog::BuildPerConnection() {
    auto* group = new QGroupBox(QStringLiteral("Per Connection"), this);
    group->setObjectName(QStringLiteral("GroupPerConnection"));
    auto* column = new QVBoxLayout(group);
    auto* form = new QFormLayout;
    column->addLayout(form);
    // A box with the choice of a close or a reset beside it; the caption's mnemonic goes to
    // the box.
    const auto addWithChoice = [this, form](const QString& caption, QLineEdit* box,
                                            QComboBox* choice) {
        auto* row = new QHBoxLayout;
        row->addWidget(box);
        row->addWidget(choice);
        row->addStretch(1);
        auto* label = new QLabel(caption, this);
        label->setBuddy(box);
        form->addRow(label, row);
    };
    const QString never = QStringLiteral("never");
    EditConnectDelay = MakeBox(QStringLiteral("EditConnectDelay"), QStringLiteral("0"));
    form->addRow(QStringLiteral("Co&nnect delay (ms):"), EditConnectDelay);
    EditEndAfter = MakeBox(QStringLiteral("EditEndAfter"), never);
    ComboEndAfterEnding = MakeChoice(QStringLiteral("ComboEndAfterEnding"), kEndings);
    addWithChoice(QStringLiteral("&End after (ms):"), EditEndAfter, ComboEndAfterEnding);
    EditStallAfter = MakeBox(QStringLiteral("EditStallAfter"), never);
    form->addRow(QStringLiteral("S&tall after (ms):"), EditStallAfter);
    EditStallEnd = MakeBox(QStringLiteral("EditStallEnd"), never);
    ComboStallEnding = MakeChoice(QStringLiteral("ComboStallEnding"), kEndings);
    addWithChoice(QStringLiteral("End a stall after (ms):"), EditStallEnd, ComboStallEnding);
    EditSlowClose = MakeBox(QStringLiteral("EditSlowClose"), QStringLiteral("0"));
    form->addRow(QStringLiteral("Slo&w close (ms):"), EditSlowClose);
    ComboRefuse =
        MakeChoice(QStringLiteral("ComboRefuse"),
                   {QStringLiteral("No"), QStringLiteral("Close at once"),
                    QStringLiteral("Reset at once"), QStringLiteral("Hold in the backlog")});
    form->addRow(QStringLiteral("&Refuse new Clients:"), ComboRefuse);
    EditShare = MakeBox(QStringLiteral("EditShare"), QStringLiteral("100"));
    form->addRow(QStringLiteral("S&hare of new Connections (%):"), EditShare);
    EditSeed = MakeBox(QStringLiteral("EditSeed"), QStringLiteral("drawn at Start"));
    EditSeed->setFixedWidth(
        fontMetrics().horizontalAdvance(QStringLiteral("18446744073709551615")) + 12);
    EditSeed->setToolTip(
        QStringLiteral("The seed of the random choices, taken at Start; the "
                       "log's \"Conditions:\" line names the one in use"));
    form->addRow(QStringLiteral("See&d:"), EditSeed);

    LabelLiveNote = new QLabel(
        QStringLiteral("A change applies at once: latency, jitter, bandwidth, slicing, loss and "
                       "the stall to open Connections from their next block; the data limit, "
                       "connect delay, end after, slow close, refusing and the share to new "
                       "Connections; the seed at the next Start."),
        group);
    LabelLiveNote->setObjectName(QStringLiteral("LabelConditionsNote"));
    LabelLiveNote->setWordWrap(true);
    column->addWidget(LabelLiveNote);
    return group;
}

std::optional<relay::Conditions> TConditionsDialog::ReadBoxes() {
    SetReader r;
    std::string delay, endAfter, stallAfter, stallEnd, slowClose, share, seed;
    const bool read =
        ReadDirection(r, Up, "up:", QStringLiteral("Client to Server")) &&
        ReadDirection(r, Down, "down:", QStringLiteral("Server to Client")) &&
        r.Box(EditConnectDelay, Unit::Time, QStringLiteral("Connect delay"), delay) &&
        r.Box(EditEndAfter, Unit::Time, QStringLiteral("End after"), endAfter) &&
        r.Box(EditStallAfter, Unit::Time, QStringLiteral("Stall after"), stallAfter) &&
        r.Box(EditStallEnd, Unit::Time, QStringLiteral("End a stall after"), stallEnd) &&
        r.Box(EditSlowClose, Unit::Time, QStringLiteral("Slow close"), slowClose) &&
        r.Box(EditShare, Unit::Percent, QStringLiteral("Share"), share) &&
        r.Box(EditSeed, Unit::Whole, QStringLiteral("Seed"), seed) &&
        (delay.empty() ||
         r.Switch("-connectdelay", delay, QStringLiteral("Connect delay"), EditConnectDelay)) &&
        (endAfter.empty() || r.Switch("-endafter", endAfter + EndingSuffix(ComboEndAfterEnding),
                                      QStringLiteral("End after"), EditEndAfter)) &&
        (!stallAfter.empty() || stallEnd.empty() ||
         r.Fail(QStringLiteral("End a stall after: it needs a stall time"), EditStallAfter)) &&
        (stallAfter.empty() ||
         r.Switch("-stall",
                  stallAfter + (stallEnd.empty() ? std::string()
                                                 : "," + stallEnd + EndingSuffix(ComboStallEnding)),
                  QStringLiteral("Stall after"), EditStallAfter)) &&
        (slowClose.empty() ||
         r.Switch("-slowclose", slowClose, QStringLiteral("Slow close"), EditSlowClose)) &&
        (ComboRefuse->currentIndex() == 0 ||
         r.Switch("-refuse", std::array{"", "close", "reset", "hold"}[ComboRefuse->currentIndex()],
                  QStringLiteral("Refuse"), nullptr)) &&
        (share.empty() || r.Switch("-share", share, QStringLiteral("Share"), EditShare)) &&
        (seed.empty() || r.Switch("-seed", seed, QStringLiteral("Seed"), EditSeed));
    if (!read) {
        ShowProblem(r.problem, r.bad);
        return std::nullopt;
    }
    return r.set;
}

void TConditionsDialog::ShowSet(const relay::Conditions& set) {
    filling_ = true;
    ShowDirection(Up, set.up);
    ShowDirection(Down, set.down);
    EditConnectDelay->setText(TimeText(set.connectDelay.On(), set.connectDelay.us));
    EditEndAfter->setText(TimeText(set.endAfter.On(), set.endAfter.us));
    ComboEndAfterEnding->setCurrentIndex(set.endAfter.ending == relay::Ending::Reset ? 1 : 0);
    EditStallAfter->setText(TimeText(set.stall.On(), set.stall.afterUs));
    EditStallEnd->setText(TimeText(set.stall.On() && set.stall.endUs >= 0, set.stall.endUs));
    ComboStallEnding->setCurrentIndex(set.stall.ending == relay::Ending::Reset ? 1 : 0);
    EditSlowClose->setText(TimeText(set.slowClose.On(), set.slowClose.us));
    ComboRefuse->setCurrentIndex(static_cast<int>(set.refuse.mode));
    EditShare->setText(PercentText(!set.share.All(), set.share.ppm));
    EditSeed->setText(set.seed ? QString::number(*set.seed) : QString());
    filling_ = false;
}

void TConditionsDialog::Apply() {
    if (filling_) {
        return;
    }
    const std::optional<relay::Conditions> set = ReadBoxes();
    if (!set) {
        return;  // the set in force stays
    }
    ShowProblem({});
    if (*set == control_.Conditions()) {
        return;
    }
    control_.SetConditions(*set);
    // Changed by hand: no preset any more, unless it is no set at all.
    control_.ChooseConditionsPreset({});
    SelectPreset(*set == relay::Conditions{} ? "Off" : "");
}

void TConditionsDialog::ChoosePreset(int index) {
    if (filling_ || index < 0) {
        return;
    }
    const std::string name = ComboPreset->itemText(index).toStdString();
    std::string problem;
    const std::optional<relay::Conditions> set = control::LoadPreset(name, problem);
    if (!set) {
        Refresh();  // back to what is in force
        ShowProblem(QString::fromStdString(problem));
        return;
    }
    ShowProblem({});
    ShowSet(*set);
    if (*set != control_.Conditions()) {
        control_.SetConditions(*set);
    }
    // "Off" is no preset to restore: the next start has no conditions.
    control_.ChooseConditionsPreset(*set == relay::Conditions{} ? std::string() : name);
}

void TConditionsDialog::SavePreset() {
    const std::string name = EditPresetName->text().trimmed().toStdString();
    const std::string unfit = control::CheckPresetName(name);
    if (!unfit.empty()) {
        ShowProblem(QString::fromStdString(unfit), EditPresetName);
        return;
    }
    const std::optional<relay::Conditions> set = ReadBoxes();
    if (!set) {
        return;
    }
    std::string problem;
    if (!control::SavePreset(name, *set, problem)) {
        ShowProblem(QString::fromStdString(problem), EditPresetName);
        return;
    }
    ShowProblem({});
    if (*set != control_.Conditions()) {
        control_.SetConditions(*set);
    }
    control_.ChooseConditionsPreset(name);
    ListPresets();
    SelectPreset(name);
}

void TConditionsDialog::ListPresets() {
    filling_ = true;
    ComboPreset->clear();
    for (const relay::ConditionsPreset& preset : relay::ConditionsPresets()) {
        ComboPreset->addItem(
            QString::fromUtf8(preset.name.data(), static_cast<qsizetype>(preset.name.size())));
    }
    const std::vector<std::string> saved = control::SavedPresetNames();
    if (!saved.empty()) {
        ComboPreset->insertSeparator(ComboPreset->count());
    }
    for (const std::string& name : saved) {
        ComboPreset->addItem(QString::fromStdString(name));
    }
    filling_ = false;
}

void TConditionsDialog::SelectPreset(const std::string& name) {
    filling_ = true;
    ComboPreset->setCurrentIndex(
        name.empty() ? -1 : ComboPreset->findText(QString::fromStdString(name), Qt::MatchExactly));
    filling_ = false;
}

void TConditionsDialog::Refresh() {
    ListPresets();
    const relay::Conditions& inForce = control_.Conditions();
    ShowSet(inForce);
    ShowProblem({});
    const std::string& chosen = control_.ConditionsPreset();
    if (!chosen.empty()) {
        std::string problem;
        const std::optional<relay::Conditions> set = control::LoadPreset(chosen, problem);
        if (set && *set == inForce) {
            SelectPreset(chosen);
            return;
        }
        if (!set) {
            ShowProblem(QString::fromStdString(problem));
        }
    }
    SelectPreset(inForce == relay::Conditions{} ? "Off" : "");
}

void TConditionsDialog::ShowProblem(const QString& problem, QLineEdit* bad) {
    if (marked_ != nullptr) {
        marked_->setStyleSheet({});
        marked_ = nullptr;
    }
    LabelProblem->setText(problem.isEmpty() ? QString() : problem + QStringLiteral("."));
    LabelProblem->setVisible(!problem.isEmpty());
    if (bad != nullptr) {
        bad->setStyleSheet(kErrorStyle);
        marked_ = bad;
    }
}

}  // namespace corvane::ui
