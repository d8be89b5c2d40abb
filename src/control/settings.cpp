#include "control/settings.h"

#include <algorithm>
#include <cstdint>

#include "platform/settings_store.h"

namespace corvane::control {
namespace {

// The read sizes in characters: a string fits when its length plus the terminating zero
// does.
constexpr std::size_t kRemoteHostReadSize = 64;
constexpr std::size_t kPortReadSize = 8;
constexpr std::size_t kLogFileReadSize = 256;
constexpr std::size_t kListenAddressReadSize = 64;
constexpr const char* kCaptureFileValue = "Capture File";
constexpr const char* kTlsValue = "TLS";
constexpr const char* kTlsCertValue = "TLS Certificate";
constexpr const char* kTlsKeyValue = "TLS Key";
constexpr const char* kTlsVerifyValue = "TLS Verify";
constexpr const char* kConditionsPresetValue = "Conditions Preset";
constexpr std::size_t kPresetReadSize = 64;
constexpr const char* kKeepStreamsValue = "Keep Streams";
constexpr const char* kConnectionsPaneValue = "Connections Pane";
constexpr int kMiBShift = 20;
constexpr const char* kRotateValue = "Rotate";
constexpr const char* kPartsKeptValue = "Parts Kept";
constexpr std::size_t kRotateReadSize = kRotateLimit + 1;

bool ReadNumber(platform::SettingsKey& key, const char* name, std::int32_t& field) {
    std::uint32_t value = 0;
    if (!key.QueryDword(name, value)) {
        return false;
    }
    field = static_cast<std::int32_t>(value);
    return true;
}

void ReadText(platform::SettingsKey& key, const char* name, std::size_t size, std::string& field) {
    std::string value;
    if (key.QueryString(name, size, value)) {
        field = std::move(value);
    }
}

// An option's number or file name goes to the store when it is set, or when the store holds
// it already (so that clearing it is kept); a store that never had it stays as it was.
void WriteOptionNumber(platform::SettingsKey& key, const char* name, std::uint32_t value) {
    std::uint32_t stored = 0;
    if (value != 0 || key.QueryDword(name, stored)) {
        key.SetDword(name, value);
    }
}

void WriteOptionText(platform::SettingsKey& key, const char* name, const std::string& value,
                     std::size_t limit) {
    std::string stored;
    if (!value.empty() || key.QueryString(name, limit + 1, stored)) {
        key.SetString(name, CutToLimit(value, limit));
    }
}

void WriteOptionFile(platform::SettingsKey& key, const char* name, const std::string& value) {
    WriteOptionText(key, name, value, kLogFileLimit);
}

}  // namespace

namespace {

// A character begins at every byte that is not a UTF-8 continuation byte; one of four bytes
// lies beyond U+FFFF and counts two, as in the edit boxes.
bool BeginsCharacter(unsigned char byte) {
    return (byte & 0xC0) != 0x80;
}

std::size_t Weight(unsigned char lead) {
    return lead >= 0xF0 ? 2 : 1;
}

}  // namespace

std::size_t CharacterCount(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (i == 0 || BeginsCharacter(byte)) {
            count += Weight(byte);
        }
    }
    return count;
}

std::string CutToLimit(std::string text, std::size_t limit) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (i == 0 || BeginsCharacter(byte)) {
            count += Weight(byte);
            if (count > limit) {
                text.resize(i);  // the whole character goes
                break;
            }
        }
    }
    return text;
}

LoadedSettings LoadSettings(platform::SettingsKey& key, Settings& settings) {
    LoadedSettings loaded;
    settings.BufferSize = kDefaultBufferSize;
    settings.Detail = kDefaultDetail;
    settings.HexOnly = 0;
    settings.TimeStamps = 0;
    settings.ListenAddress.clear();
    settings.HalfClose = 0;
    settings.ListenAddressStored = false;
    settings.HalfCloseStored = false;
    settings.Tls = 0;
    settings.TlsCert.clear();
    settings.TlsKey.clear();
    settings.TlsVerify = 0;
    settings.ConditionsPreset.clear();
    settings.ConditionsPresetStored = false;
    settings.KeepStreams = kDefaultKeepStreams;
    settings.Rotate.clear();
    settings.PartsKept = 0;
    settings.ConnectionsPane.clear();
    if (!key.IsOpen()) {
        return loaded;
    }
    loaded.KeyOpened = true;
    loaded.WidthRead = ReadNumber(key, "Width", settings.WindowWidth);
    loaded.HeightRead = ReadNumber(key, "Height", settings.WindowHeight);
    ReadNumber(key, "Buffer Size", settings.BufferSize);
    std::uint32_t detail = 0;
    if (key.QueryDword("Detail", detail)) {
        settings.Detail = detail;
    }
    ReadText(key, "Remote Host", kRemoteHostReadSize, settings.RemoteHost);
    ReadText(key, "Remote Port", kPortReadSize, settings.RemotePort);
    ReadText(key, "Local Port", kPortReadSize, settings.LocalPort);
    ReadText(key, "Log File", kLogFileReadSize, settings.LogFile);
    std::uint32_t hexOnly = 0;
    if (key.QueryDword("Hex Only", hexOnly)) {
        settings.HexOnly = hexOnly;
    }
    std::uint32_t timeStamps = 0;
    if (key.QueryDword("Time Stamps", timeStamps)) {
        settings.TimeStamps = timeStamps;
    }
    settings.ListenAddressStored =
        key.QueryString("Listen Address", kListenAddressReadSize, settings.ListenAddress);
    std::uint32_t halfClose = 0;
    if (key.QueryDword("Half Close", halfClose)) {
        settings.HalfClose = halfClose;
        settings.HalfCloseStored = true;
    }
    ReadText(key, kCaptureFileValue, kLogFileReadSize, settings.CaptureFile);
    key.QueryDword(kTlsValue, settings.Tls);
    ReadText(key, kTlsCertValue, kLogFileReadSize, settings.TlsCert);
    ReadText(key, kTlsKeyValue, kLogFileReadSize, settings.TlsKey);
    key.QueryDword(kTlsVerifyValue, settings.TlsVerify);
    settings.ConditionsPresetStored =
        key.QueryString(kConditionsPresetValue, kPresetReadSize, settings.ConditionsPreset);
    std::uint32_t keepStreams = 0;
    if (key.QueryDword(kKeepStreamsValue, keepStreams)) {
        settings.KeepStreams = static_cast<std::int64_t>(keepStreams) << kMiBShift;
    }
    ReadText(key, kRotateValue, kRotateReadSize, settings.Rotate);
    key.QueryDword(kPartsKeptValue, settings.PartsKept);
    ReadText(key, kConnectionsPaneValue, kLogFileReadSize, settings.ConnectionsPane);
    return loaded;
}

void SaveSettings(platform::SettingsKey& key, const Settings& settings) {
    if (!key.IsOpen()) {
        return;
    }
    key.SetDword("Width", static_cast<std::uint32_t>(settings.WindowWidth));
    key.SetDword("Height", static_cast<std::uint32_t>(settings.WindowHeight));
    key.SetDword("Buffer Size", static_cast<std::uint32_t>(settings.BufferSize));
    key.SetDword("Detail", settings.Detail);
    key.SetDword("Hex Only", settings.HexOnly);
    key.SetString("Remote Host", CutToLimit(settings.RemoteHost, kRemoteHostLimit));
    key.SetString("Remote Port", CutToLimit(settings.RemotePort, kRemotePortLimit));
    key.SetString("Local Port", CutToLimit(settings.LocalPort, kLocalPortLimit));
    key.SetString("Log File", CutToLimit(settings.LogFile, kLogFileLimit));
    key.SetDword("Time Stamps", settings.TimeStamps);
    if (!settings.ListenAddress.empty() || settings.ListenAddressStored) {
        key.SetString("Listen Address", CutToLimit(settings.ListenAddress, kListenAddressLimit));
    }
    if (settings.HalfClose != 0 || settings.HalfCloseStored) {
        key.SetDword("Half Close", settings.HalfClose);
    }
    WriteOptionFile(key, kCaptureFileValue, settings.CaptureFile);
    WriteOptionNumber(key, kTlsValue, settings.Tls);
    WriteOptionFile(key, kTlsCertValue, settings.TlsCert);
    WriteOptionFile(key, kTlsKeyValue, settings.TlsKey);
    WriteOptionNumber(key, kTlsVerifyValue, settings.TlsVerify);
    if (!settings.ConditionsPreset.empty() || settings.ConditionsPresetStored) {
        key.SetString(kConditionsPresetValue,
                      CutToLimit(settings.ConditionsPreset, kPresetReadSize - 1));
    }
    WriteOptionFile(key, kConnectionsPaneValue, settings.ConnectionsPane);
    std::uint32_t storedMiB = 0;
    if (settings.KeepStreams != kDefaultKeepStreams ||
        key.QueryDword(kKeepStreamsValue, storedMiB)) {
        const std::int64_t mib =
            std::clamp<std::int64_t>(settings.KeepStreams >> kMiBShift, 0, UINT32_MAX);
        key.SetDword(kKeepStreamsValue, static_cast<std::uint32_t>(mib));
    }
    WriteOptionText(key, kRotateValue, settings.Rotate, kRotateLimit);
    WriteOptionNumber(key, kPartsKeptValue, settings.PartsKept);
    key.Close();
}

}  // namespace corvane::control
