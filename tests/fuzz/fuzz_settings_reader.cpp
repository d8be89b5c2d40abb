// The settings reader over any content of the settings file: nothing longer than an edit
// box's limit is ever taken, a file that cannot be read gives the defaults, and whatever was
// read survives a save and a second read unchanged.
#include <QSettings>
#include <QString>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "control/settings.h"
#include "fuzz_support.h"
#include "platform/settings_store.h"

namespace corvane::fuzz {
namespace {

using control::Settings;

// A store of its own for each use: the settings layer keeps what it read of a file and
// would not notice a rewrite within the same millisecond.
std::string FreshStore() {
    static long count = 0;
    const std::string dir = ScratchDirectory() + "/store" + std::to_string(++count);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromStdString(dir));
    return dir;
}

void CheckSame(const Settings& a, const Settings& b) {
    FUZZ_CHECK_EQ(a.RemoteHost, b.RemoteHost);
    FUZZ_CHECK_EQ(a.RemotePort, b.RemotePort);
    FUZZ_CHECK_EQ(a.LocalPort, b.LocalPort);
    FUZZ_CHECK_EQ(a.LogFile, b.LogFile);
    FUZZ_CHECK_EQ(a.CaptureFile, b.CaptureFile);
    FUZZ_CHECK_EQ(a.BufferSize, b.BufferSize);
    FUZZ_CHECK_EQ(a.Detail, b.Detail);
    FUZZ_CHECK_EQ(a.HexOnly, b.HexOnly);
    FUZZ_CHECK_EQ(a.TimeStamps, b.TimeStamps);
    FUZZ_CHECK_EQ(a.Tls, b.Tls);
    FUZZ_CHECK_EQ(a.TlsCert, b.TlsCert);
    FUZZ_CHECK_EQ(a.TlsKey, b.TlsKey);
    FUZZ_CHECK_EQ(a.TlsVerify, b.TlsVerify);
    FUZZ_CHECK_EQ(a.KeepStreams, b.KeepStreams);
    FUZZ_CHECK_EQ(a.Rotate, b.Rotate);
    FUZZ_CHECK_EQ(a.PartsKept, b.PartsKept);
    FUZZ_CHECK_EQ(a.WindowWidth, b.WindowWidth);
    FUZZ_CHECK_EQ(a.WindowHeight, b.WindowHeight);
}

}  // namespace
}  // namespace corvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace corvane;
    using namespace corvane::fuzz;
    const std::string dir = FreshStore();
    std::filesystem::create_directories(dir + "/Halvard");
    {
        std::ofstream out(dir + "/Halvard/Corvane.conf", std::ios::binary);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }

    Settings read;
    control::LoadedSettings loaded;
    {
        platform::SettingsKey key;
        loaded = control::LoadSettings(key, read);
    }
    FUZZ_CHECK(control::CharacterCount(read.RemoteHost) <= control::kRemoteHostLimit);
    FUZZ_CHECK(control::CharacterCount(read.RemotePort) <= control::kRemotePortLimit);
    FUZZ_CHECK(control::CharacterCount(read.LocalPort) <= control::kLocalPortLimit);
    FUZZ_CHECK(control::CharacterCount(read.LogFile) <= control::kLogFileLimit);
    FUZZ_CHECK(control::CharacterCount(read.CaptureFile) <= control::kLogFileLimit);
    FUZZ_CHECK(control::CharacterCount(read.TlsCert) <= control::kLogFileLimit);
    FUZZ_CHECK(control::CharacterCount(read.TlsKey) <= control::kLogFileLimit);
    FUZZ_CHECK(control::CharacterCount(read.Rotate) <= control::kRotateLimit);
    if (!loaded.KeyOpened) {
        CheckSame(read, Settings{});
    }
    if (!loaded.WidthRead) {
        FUZZ_CHECK_EQ(read.WindowWidth, control::kDesignWidth);
    }
    if (!loaded.HeightRead) {
        FUZZ_CHECK_EQ(read.WindowHeight, control::kDesignHeight);
    }

    // Saved into an empty store and read again, every field comes back as it was.
    const std::string second = FreshStore();
    {
        platform::SettingsKey key;
        FUZZ_CHECK(key.IsOpen());
        control::SaveSettings(key, read);
    }
    Settings again;
    {
        platform::SettingsKey key;
        const control::LoadedSettings reloaded = control::LoadSettings(key, again);
        FUZZ_CHECK(reloaded.KeyOpened && reloaded.WidthRead && reloaded.HeightRead);
    }
    CheckSame(again, read);

    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    std::filesystem::remove_all(second, ignored);
    return 0;
}
