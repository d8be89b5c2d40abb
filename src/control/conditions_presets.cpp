#include "control/conditions_presets.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QString>

#include "control/settings.h"
#include "platform/settings_store.h"
#include "relay/conditions/conditions_text.h"
#include "relay/conditions/presets.h"

namespace corvane::control {
namespace {

// A preset file is a few lines; anything larger is not one.
constexpr qint64 kLargestPresetFile = 64 * 1024;

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}

const relay::ConditionsPreset* BuiltIn(std::string_view name) {
    for (const relay::ConditionsPreset& preset : relay::ConditionsPresets()) {
        if (SameLetters(preset.name, name)) {
            return &preset;
        }
    }
    return nullptr;
}

}  // namespace

std::string PresetFolder() {
    return platform::SettingsDirectory() + "/conditions";
}

std::string PresetPath(std::string_view name) {
    return PresetFolder() + "/" + std::string(name) + std::string(kPresetSuffix);
}

std::string CheckPresetName(std::string_view name) {
    if (name.empty()) {
        return "A preset needs a name";
    }
    if (CharacterCount(name) > kPresetNameLimit) {
        return "A preset's name has at most " + std::to_string(kPresetNameLimit) + " characters";
    }
    for (const char c : name) {
        if (c == '/' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return "A preset's name cannot hold \"/\" or control characters";
        }
    }
    if (name.front() == '.') {
        return "A preset's name cannot begin with \".\"";
    }
    if (const relay::ConditionsPreset* preset = BuiltIn(name)) {
        return "\"" + std::string(preset->name) + "\" is a built-in preset; choose another name";
    }
    return {};
}

std::vector<std::string> SavedPresetNames() {
    const QString suffix = FromUtf8(kPresetSuffix);
    const QDir folder(QString::fromStdString(PresetFolder()));
    std::vector<std::string> names;
    for (const QString& file :
         folder.entryList({QStringLiteral("*") + suffix}, QDir::Files | QDir::Readable,
                          QDir::Name | QDir::IgnoreCase)) {
        std::string name = file.left(file.size() - suffix.size()).toStdString();
        // What no save would have written (a built-in's name, a hidden file) is not offered.
        if (CheckPresetName(name).empty()) {
            names.push_back(std::move(name));
        }
    }
    return names;
}

std::optional<relay::Conditions> LoadPreset(std::string_view name, std::string& problem) {
    relay::TextProblem bad;
    const std::string where = "Preset " + std::string(name);
    if (const relay::ConditionsPreset* preset = BuiltIn(name); preset && preset->name == name) {
        return relay::ParseConditionsText(preset->text, bad);
    }
    if (!CheckPresetName(name).empty()) {
        problem = where + " does not exist";
        return std::nullopt;
    }
    QFile file(QString::fromStdString(PresetPath(name)));
    if (!file.open(QIODevice::ReadOnly)) {
        problem = where + " cannot be read: " + file.errorString().toStdString();
        return std::nullopt;
    }
    const QByteArray content = file.read(kLargestPresetFile + 1);
    if (content.size() > kLargestPresetFile) {
        problem = where + " is too large to be a conditions file";
        return std::nullopt;
    }
    std::optional<relay::Conditions> set = relay::ParseConditionsText(
        std::string_view(content.constData(), static_cast<std::size_t>(content.size())), bad);
    if (!set) {
        problem = where + ", line " + std::to_string(bad.line) + ": " + bad.text;
    }
    return set;
}

bool SavePreset(std::string_view name, const relay::Conditions& set, std::string& problem) {
    problem = CheckPresetName(name);
    if (!problem.empty()) {
        return false;
    }
    const QString folder = QString::fromStdString(PresetFolder());
    QSaveFile file(QString::fromStdString(PresetPath(name)));
    const std::string text = "# Corvane's Network Conditions \"" + std::string(name) +
                             "\" (corvane-cli -conditions FILE reads them)\n" +
                             relay::FormatConditions(set, relay::ConditionsLayout::Lines);
    if (!QDir().mkpath(folder) || !file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()) ||
        !file.commit()) {
        problem =
            "Preset " + std::string(name) + " cannot be saved: " + file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace corvane::control
