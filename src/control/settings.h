// The settings that survive from one run to the next, and their place in the per-user
// settings store. The four texts are the edit boxes' contents; the window holds them while
// it runs, and they are copied here only to load and to save.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "relay/conditions/conditions.h"

namespace corvane::platform {
class SettingsKey;
}

namespace corvane::control {

// The edit boxes' limits in characters; nothing longer is ever stored.
constexpr std::size_t kRemoteHostLimit = 63;
constexpr std::size_t kRemotePortLimit = 7;
constexpr std::size_t kLocalPortLimit = 7;
constexpr std::size_t kLogFileLimit = 255;
constexpr std::size_t kListenAddressLimit = 63;
constexpr std::size_t kRotateLimit = 31;

constexpr std::int32_t kDesignWidth = 630;
constexpr std::int32_t kDesignHeight = 410;
constexpr std::int32_t kDefaultBufferSize = 32768;
constexpr std::uint32_t kDefaultDetail = 2;
// Keep Streams: the bound of the store of passed-on bytes, in bytes; what the window takes
// when the store has no value (corvane-cli keeps none unless "-streams" is given).
constexpr std::int64_t kDefaultKeepStreams = 256LL << 20;

struct Settings {
    std::string RemoteHost;
    std::string RemotePort;
    std::string LocalPort;
    std::string LogFile;      // empty: no Log File
    std::string CaptureFile;  // empty: no Capture File; cut to kLogFileLimit like LogFile
    // 32768, 131072, 524288, 2097152 or -1 (no limit) once snapped by the Size menus' checks.
    std::int32_t BufferSize = kDefaultBufferSize;
    // 0 Low, 1 Medium, 2 High; any value above 2 acts as High and is kept as it is.
    std::uint32_t Detail = kDefaultDetail;
    std::uint32_t HexOnly = 0;
    // Options beyond the window's parameters (the Options dialog, a switch each); all off
    // by default. Time Stamps: non-zero begins every message line with its local time.
    std::uint32_t TimeStamps = 0;
    std::int32_t WindowWidth = kDesignWidth;
    std::int32_t WindowHeight = kDesignHeight;
    // Not stored: 0 none, 1 pending ("-auto"), -1 done.
    std::int32_t AutoStart = 0;
    // The address the Local Port is bound to ("127.0.0.1", "::1"); empty: every interface.
    std::string ListenAddress;
    // 0 off; non-zero: a peer's orderly close ends only its direction.
    std::uint32_t HalfClose = 0;
    // Which sides Corvane ends TLS on: 0 None, 1 Client, 2 Server, 3 Both (a stored value
    // above 3 is kept as it is and read by its two low bits). The certificate and key files
    // (PEM, cut to kLogFileLimit like LogFile) are empty for the self-signed pair kept beside
    // the settings; a non-zero TlsVerify checks the Server's certificate against the
    // system's store.
    std::uint32_t Tls = 0;
    std::string TlsCert;
    std::string TlsKey;
    std::uint32_t TlsVerify = 0;
    // Network Conditions: the kept preset's set (ConditionsPreset) or the command line's
    // switches; never stored itself, so that no run begins with conditions that were not
    // asked for. ConditionsFile is corvane-cli's "-conditions <file>".
    relay::Conditions Conditions;
    std::string ConditionsFile;
    // The Network Conditions preset that the user chose last in the window (control/
    // conditions_presets.h), put in force at the start; empty: none. Only the name is kept.
    std::string ConditionsPreset;
    // Keep Streams: the store of passed-on bytes bounded at this many bytes; 0 keeps none
    // (corvane-cli's value unless "-streams" is given). Stored in MiB. StreamsFile
    // ("-streams FILE[,SIZE]", not stored) names the store's file, which then stays after the
    // run; empty: one in the user's cache directory for the run alone.
    std::int64_t KeepStreams = kDefaultKeepStreams;
    std::string StreamsFile;
    // Rotation of the Log File and the Capture File: "1h", "100M", "1h,100M" (the text of
    // "-rotate", cut to kRotateLimit; empty: one file each), and the parts kept of each
    // (0: all).
    std::string Rotate;
    std::uint32_t PartsKept = 0;
    // The window's Connections pane: whether it is shown, where, and its column widths, in
    // the window's own words ("" until the pane is first shown).
    std::string ConnectionsPane;
    // Not stored: the store held the value when it was loaded. A value at its default is
    // written back only then, so that a store that never had it stays as it was.
    bool ListenAddressStored = false;
    bool HalfCloseStored = false;
    bool ConditionsPresetStored = false;
};

// What LoadSettings found: the window applies a width or height that was read.
struct LoadedSettings {
    bool KeyOpened = false;
    bool WidthRead = false;
    bool HeightRead = false;
};

// Reads, in this order, "Width", "Height", "Buffer Size", "Detail" (4-byte numbers),
// "Remote Host" (64 characters), "Remote Port" (8), "Local Port" (8), "Log File" (256) and
// "Hex Only" (4 bytes), then the options: "Time Stamps" (4 bytes), "Listen Address" (64
// characters), "Half Close" (4 bytes), "Capture File" (256 characters), "TLS" (4 bytes),
// "TLS Certificate" and "TLS Key" (256 characters each), "TLS Verify" and "Keep Streams" (4
// bytes, MiB), "Conditions Preset" (64 characters), "Rotate" (32 characters), "Parts Kept"
// (4 bytes) and "Connections Pane" (256 characters). A value that is absent or does not fit
// its size counts as absent: Buffer Size then becomes 32768, Detail 2, Keep Streams
// kDefaultKeepStreams, Hex Only and every other option 0 or empty, and every other field
// keeps what it held. A key that cannot be opened gives the same defaults.
LoadedSettings LoadSettings(platform::SettingsKey& key, Settings& settings);

// Writes, in this order, "Width", "Height", "Buffer Size", "Detail", "Hex Only" (numbers),
// then "Remote Host", "Remote Port", "Local Port", "Log File" (strings, each cut to its
// limit), then the options: "Time Stamps" (number), and "Listen Address", "Half Close",
// "Capture File", "TLS", "TLS Certificate", "TLS Key", "TLS Verify", "Conditions Preset",
// "Rotate", "Parts Kept" and "Connections Pane" each when it is set or the store holds it (so
// that a store without them stays as it was), and "Keep Streams" when it is not
// kDefaultKeepStreams or the store holds it. Nothing is written when the key cannot be
// opened; failed writes are ignored.
void SaveSettings(platform::SettingsKey& key, const Settings& settings);

// The characters of a UTF-8 text counted as the edit boxes count them: one each, and two
// for a character beyond U+FFFF (a surrogate pair in the box).
std::size_t CharacterCount(std::string_view text);

// The text cut to at most limit characters (counted as CharacterCount does), never in the
// middle of one.
std::string CutToLimit(std::string text, std::size_t limit);

}  // namespace corvane::control
