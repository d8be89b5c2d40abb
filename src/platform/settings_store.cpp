#include "platform/settings_store.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <limits>

namespace corvane::platform {
namespace {

QString Name(const char* name) {
    return QString::fromUtf8(name);
}

// The text of a stored value whatever its type. A text with commas written by hand comes
// back from the native format as a list; it is put together again.
QString TextOf(const QVariant& v) {
    if (v.typeId() == QMetaType::QStringList) {
        return v.toStringList().join(QStringLiteral(", "));
    }
    return v.toString();
}

}  // namespace

SettingsKey::SettingsKey()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Halvard"), QStringLiteral("Corvane"))) {
}

SettingsKey::~SettingsKey() {
    Close();
}

// A file with a malformed line still gives every good line and is rewritten whole by the
// next save; only a store that cannot be read or written at all counts as not open, so that
// one bad line never costs the user every setting for good.
bool SettingsKey::IsOpen() const {
    return settings_ != nullptr && settings_->status() != QSettings::AccessError &&
           settings_->isWritable();
}

bool SettingsKey::QueryDword(const char* name, std::uint32_t& value) const {
    if (!IsOpen() || !settings_->contains(Name(name))) {
        return false;
    }
    bool ok = false;
    const qlonglong n = TextOf(settings_->value(Name(name))).trimmed().toLongLong(&ok);
    // Four bytes hold either reading of the number: -1 and 4294967295 are the same value.
    if (!ok || n < std::numeric_limits<std::int32_t>::min() ||
        n > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    value = static_cast<std::uint32_t>(n);
    return true;
}

bool SettingsKey::QueryString(const char* name, std::size_t bufferSize, std::string& value) const {
    if (!IsOpen() || !settings_->contains(Name(name))) {
        return false;
    }
    const QByteArray text = TextOf(settings_->value(Name(name))).toUtf8();
    if (static_cast<std::size_t>(text.size()) + 1 > bufferSize) {
        return false;
    }
    value.assign(text.constData(), static_cast<std::size_t>(text.size()));
    return true;
}

void SettingsKey::SetDword(const char* name, std::uint32_t value) {
    if (IsOpen()) {
        settings_->setValue(Name(name), static_cast<qulonglong>(value));
    }
}

void SettingsKey::SetString(const char* name, const std::string& value) {
    if (IsOpen()) {
        settings_->setValue(Name(name),
                            QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size())));
    }
}

void SettingsKey::Close() {
    if (settings_ != nullptr) {
        settings_->sync();
    }
}

}  // namespace corvane::platform
