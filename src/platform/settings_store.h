// The per-user settings store, standing in for the per-user registry: QSettings in native
// format, organisation "Halvard", application "Corvane". A key is opened with create
// semantics; reads fail when the value is absent or does not fit the size given.
#pragma once

#include <QVariantMap>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QSettings;

namespace corvane::platform {

// The directory that holds the store's file (created 0700 when missing); what belongs with the
// settings, such as the relay's self-signed certificate, is kept there.
std::string SettingsDirectory();

class SettingsKey {
public:
    SettingsKey();
    ~SettingsKey();
    SettingsKey(const SettingsKey&) = delete;
    SettingsKey& operator=(const SettingsKey&) = delete;

    // False when the store cannot be opened or written (then nothing is read or written).
    bool IsOpen() const;

    // A 4-byte number; false when absent or not a 32-bit number.
    bool QueryDword(const char* name, std::uint32_t& value) const;
    // A string read into a buffer of bufferSize characters (UTF-16 units, as an edit box
    // counts them): false when absent or when its length plus the terminating zero exceeds
    // bufferSize. The value comes back in UTF-8.
    bool QueryString(const char* name, std::size_t bufferSize, std::string& value) const;

    void SetDword(const char* name, std::uint32_t value);
    void SetString(const char* name, const std::string& value);

    // Writes what was set to the store (also done by the destructor).
    void Close();

private:
    bool Contains(const char* name) const;
    QVariant Value(const char* name) const;
    // Before the first write to a file that had lines running on: the store takes the
    // values that could be read in place of its own reading.
    void BeginWriting();

    std::unique_ptr<QSettings> settings_;
    // Set when a line of the file runs on into the next ones: the values that can be read,
    // which then answer every query.
    std::optional<QVariantMap> readable_;
};

}  // namespace corvane::platform
