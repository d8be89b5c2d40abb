// Points the settings store at a fresh temporary directory for the life of the object, so
// that tests never read or write the user's own settings file.
#pragma once

#include <QSettings>
#include <QStandardPaths>
#include <QString>
#include <QTemporaryDir>

namespace corvane::test {

class TemporarySettings {
public:
    TemporarySettings() {
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir_.path());
    }
    ~TemporarySettings() {
        // Back to a place that is still not the user's: a later store must not fall through
        // to the real file.
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                           QStringLiteral("/nonexistent-corvane-test-settings"));
    }
    TemporarySettings(const TemporarySettings&) = delete;
    TemporarySettings& operator=(const TemporarySettings&) = delete;

    // The file that the store writes.
    QString FilePath() const { return dir_.filePath(QStringLiteral("Halvard/Corvane.conf")); }
    bool IsValid() const { return dir_.isValid(); }

private:
    QTemporaryDir dir_;
};

}  // namespace corvane::test
