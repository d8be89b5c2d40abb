#include "platform/settings_store.h"

#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <QVariant>
#include <limits>

#include "platform/private_folder.h"

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

// True when the line does not end where it ends in the file: a double quote left open, or a
// backslash as its last character, makes the store's reader take the next line as part of
// the value, and so on until the quote closes, which can swallow every later value. After a
// ';' outside quotes the rest of the line is a comment.
bool RunsOn(const QByteArray& line) {
    bool inQuotes = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const char ch = line[i];
        if (ch == '\\') {
            if (++i == line.size()) {
                return true;
            }
        } else if (ch == '"') {
            inQuotes = !inQuotes;
        } else if (ch == ';' && !inQuotes) {
            return false;
        }
    }
    return inQuotes;
}

// The values of the file at `path` that can be read, when a line of it runs on (see
// RunsOn): the file without those lines, read by the store's own reader. Nothing when no
// line runs on, and then the store's reading of the file stands as it is.
std::optional<QVariantMap> ReadableValues(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray text = file.readAll();
    QByteArray kept;
    bool dropped = false;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text[end] != '\n' && text[end] != '\r') {
            ++end;
        }
        const QByteArray line = text.mid(start, end - start);
        if (RunsOn(line)) {
            dropped = true;
        } else {
            kept.append(line).append('\n');
        }
        start = end + 1;
    }
    if (!dropped) {
        return std::nullopt;
    }
    QTemporaryFile copy;
    if (!copy.open() || copy.write(kept) != kept.size() || !copy.flush()) {
        return std::nullopt;
    }
    // On Linux the native format is this same reader.
    const QSettings reader(copy.fileName(), QSettings::IniFormat);
    QVariantMap values;
    for (const QString& name : reader.allKeys()) {
        values.insert(name, reader.value(name));
    }
    return values;
}

// The store's folder, made 0700 when missing before the store itself would make it with
// the umask's mode: it holds the settings and the relay's TLS key.
std::string MakeStoreFolder(const QSettings& settings) {
    const std::string dir = QFileInfo(settings.fileName()).absolutePath().toStdString();
    std::string reason;
    MakePrivateFolders(dir, reason);  // a folder that cannot be made fails where it is used
    return dir;
}

}  // namespace

std::string SettingsDirectory() {
    const QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QStringLiteral("Halvard"), QStringLiteral("Corvane"));
    return MakeStoreFolder(settings);
}

SettingsKey::SettingsKey()
    : settings_(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Halvard"), QStringLiteral("Corvane"))) {
    MakeStoreFolder(*settings_);  // before IsOpen, whose test of the file makes the folder
    if (IsOpen()) {
        readable_ = ReadableValues(settings_->fileName());
    }
}

bool SettingsKey::Contains(const char* name) const {
    return readable_ ? readable_->contains(Name(name)) : settings_->contains(Name(name));
}

QVariant SettingsKey::Value(const char* name) const {
    return readable_ ? readable_->value(Name(name)) : settings_->value(Name(name));
}

void SettingsKey::BeginWriting() {
    if (!readable_) {
        return;
    }
    // The file is written whole from what could be read; the lines that ran on go.
    settings_->clear();
    for (auto it = readable_->cbegin(); it != readable_->cend(); ++it) {
        settings_->setValue(it.key(), it.value());
    }
    readable_.reset();
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
    if (!IsOpen() || !Contains(name)) {
        return false;
    }
    bool ok = false;
    const qlonglong n = TextOf(Value(name)).trimmed().toLongLong(&ok);
    // Four bytes hold either reading of the number: -1 and 4294967295 are the same value.
    if (!ok || n < std::numeric_limits<std::int32_t>::min() ||
        n > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    value = static_cast<std::uint32_t>(n);
    return true;
}

bool SettingsKey::QueryString(const char* name, std::size_t bufferSize, std::string& value) const {
    if (!IsOpen() || !Contains(name)) {
        return false;
    }
    // Characters as the edit boxes count them (UTF-16 units), not the bytes of UTF-8.
    const QString text = TextOf(Value(name));
    if (static_cast<std::size_t>(text.size()) + 1 > bufferSize) {
        return false;
    }
    const QByteArray bytes = text.toUtf8();
    value.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    return true;
}

void SettingsKey::SetDword(const char* name, std::uint32_t value) {
    if (IsOpen()) {
        BeginWriting();
        settings_->setValue(Name(name), static_cast<qulonglong>(value));
    }
}

void SettingsKey::SetString(const char* name, const std::string& value) {
    if (IsOpen()) {
        BeginWriting();
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
