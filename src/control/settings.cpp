#include "control/settings.h"

#include "platform/settings_store.h"

namespace corvane::control {
namespace {

// The read sizes: a string fits when its length plus the terminating zero does.
constexpr std::size_t kRemoteHostReadSize = 64;
constexpr std::size_t kPortReadSize = 8;
constexpr std::size_t kLogFileReadSize = 256;
constexpr const char* kCaptureFileValue = "Capture File";

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

}  // namespace

std::string CutToLimit(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return text;
    }
    std::size_t end = limit;
    // Back off over UTF-8 continuation bytes so that no character is split.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
        --end;
    }
    text.resize(end);
    return text;
}

LoadedSettings LoadSettings(platform::SettingsKey& key, Settings& settings) {
    LoadedSettings loaded;
    settings.BufferSize = kDefaultBufferSize;
    settings.Detail = kDefaultDetail;
    settings.HexOnly = 0;
    settings.TimeStamps = 0;
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
    ReadText(key, kCaptureFileValue, kLogFileReadSize, settings.CaptureFile);
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
    std::string stored;
    if (!settings.CaptureFile.empty() ||
        key.QueryString(kCaptureFileValue, kLogFileReadSize, stored)) {
        key.SetString(kCaptureFileValue, CutToLimit(settings.CaptureFile, kLogFileLimit));
    }
    key.Close();
}

}  // namespace corvane::control
