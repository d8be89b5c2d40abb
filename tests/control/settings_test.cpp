// The settings over a temporary store: defaults, read sizes, snapping, and the round trip.
#include <gtest/gtest.h>
#include <QFile>
#include <QSettings>

#include "control/settings.h"
#include "control_support.h"
#include "platform/settings_store.h"

namespace corvane::control {
namespace {

class SettingsTest : public test::TempStoreTest {};

TEST_F(SettingsTest, AnEmptyStoreGivesTheDefaults) {
    Settings s;
    s.BufferSize = 2097152;  // whatever was there before gives way to the defaults
    s.Detail = 0;
    s.HexOnly = 1;
    s.TimeStamps = 1;
    platform::SettingsKey key;
    const LoadedSettings loaded = LoadSettings(key, s);
    EXPECT_TRUE(loaded.KeyOpened);
    EXPECT_FALSE(loaded.WidthRead);
    EXPECT_FALSE(loaded.HeightRead);
    EXPECT_EQ(s.BufferSize, 32768);
    EXPECT_EQ(s.Detail, 2u);
    EXPECT_EQ(s.HexOnly, 0u);
    EXPECT_EQ(s.TimeStamps, 0u);
    EXPECT_EQ(s.WindowWidth, 630);
    EXPECT_EQ(s.WindowHeight, 410);
    EXPECT_EQ(s.RemoteHost, "");
}

TEST_F(SettingsTest, AStoreThatCannotBeOpenedGivesTheDefaultsAndTakesNoWrites) {
    // The store's folder would have to be created inside a plain file.
    QFile blocker(dir_.path() + QStringLiteral("/blocker"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, blocker.fileName());

    Settings s;
    s.BufferSize = 131072;
    s.Detail = 0;
    {
        platform::SettingsKey key;
        const LoadedSettings loaded = LoadSettings(key, s);
        EXPECT_FALSE(loaded.KeyOpened);
        EXPECT_FALSE(loaded.WidthRead);
        SaveSettings(key, s);  // must not fail or crash
    }
    EXPECT_EQ(s.BufferSize, 32768);
    EXPECT_EQ(s.Detail, 2u);
    EXPECT_EQ(s.WindowWidth, 630);
    EXPECT_EQ(s.WindowHeight, 410);
}

TEST_F(SettingsTest, RoundTripKeepsEveryField) {
    Settings out;
    out.RemoteHost = "relay.test";
    out.RemotePort = "8080";
    out.LocalPort = "0";
    out.LogFile = "/tmp/with blank/x.htm";
    out.CaptureFile = "/tmp/with blank/x.pcap";
    out.BufferSize = -1;
    out.Detail = 5;
    out.HexOnly = 1;
    out.TimeStamps = 1;
    out.WindowWidth = 800;
    out.WindowHeight = 600;
    out.AutoStart = 1;
    {
        platform::SettingsKey key;
        SaveSettings(key, out);
    }
    Settings in;
    platform::SettingsKey key;
    const LoadedSettings loaded = LoadSettings(key, in);
    EXPECT_TRUE(loaded.WidthRead);
    EXPECT_TRUE(loaded.HeightRead);
    EXPECT_EQ(in.RemoteHost, out.RemoteHost);
    EXPECT_EQ(in.RemotePort, out.RemotePort);
    EXPECT_EQ(in.LocalPort, out.LocalPort);
    EXPECT_EQ(in.LogFile, out.LogFile);
    EXPECT_EQ(in.CaptureFile, out.CaptureFile);
    EXPECT_EQ(in.BufferSize, -1);
    EXPECT_EQ(in.Detail, 5u);  // kept as it is; it only acts as High
    EXPECT_EQ(in.HexOnly, 1u);
    EXPECT_EQ(in.TimeStamps, 1u);
    EXPECT_EQ(in.WindowWidth, 800);
    EXPECT_EQ(in.WindowHeight, 600);
    EXPECT_EQ(in.AutoStart, 0);  // never stored
}

TEST_F(SettingsTest, CaptureFileIsWrittenOnlyWhenSetOrAlreadyStored) {
    auto stored = [] {
        platform::SettingsKey key;
        std::string value = "absent";
        key.QueryString("Capture File", 256, value);
        return value;
    };
    Settings s;
    {
        platform::SettingsKey key;
        SaveSettings(key, s);
    }
    EXPECT_EQ(stored(), "absent");  // a store that never had one stays without
    s.CaptureFile = "run.pcap";
    {
        platform::SettingsKey key;
        SaveSettings(key, s);
    }
    EXPECT_EQ(stored(), "run.pcap");
    s.CaptureFile.clear();
    {
        platform::SettingsKey key;
        SaveSettings(key, s);
    }
    EXPECT_EQ(stored(), "");  // cleared, not left behind
}

TEST_F(SettingsTest, StringsThatDoNotFitTheirReadSizeCountAsAbsent) {
    {
        platform::SettingsKey key;
        key.SetString("Remote Host", std::string(64, 'h'));
        key.SetString("Remote Port", "12345678");
        key.SetString("Local Port", "1234567");
        key.SetString("Log File", std::string(256, 'f'));
        key.Close();
    }
    Settings s;
    s.RemotePort = "keep";
    platform::SettingsKey key;
    LoadSettings(key, s);
    EXPECT_EQ(s.RemoteHost, "");
    EXPECT_EQ(s.RemotePort, "keep");
    EXPECT_EQ(s.LocalPort, "1234567");
    EXPECT_EQ(s.LogFile, "");

    key.SetString("Remote Host", std::string(63, 'h'));
    key.SetString("Log File", std::string(255, 'f'));
    key.Close();
    LoadSettings(key, s);
    EXPECT_EQ(s.RemoteHost, std::string(63, 'h'));
    EXPECT_EQ(s.LogFile, std::string(255, 'f'));
}

TEST_F(SettingsTest, NumbersAreTakenAsTheir32Bits) {
    {
        platform::SettingsKey key;
        key.SetDword("Buffer Size", static_cast<std::uint32_t>(-5));
        key.SetDword("Width", 1024);
        key.SetDword("Hex Only", 7);
        key.SetDword("Time Stamps", 3);
        key.Close();
    }
    Settings s;
    platform::SettingsKey key;
    const LoadedSettings loaded = LoadSettings(key, s);
    EXPECT_EQ(s.BufferSize, -5);  // snapped to -1 by the Size menus' checks, not here
    EXPECT_TRUE(loaded.WidthRead);
    EXPECT_FALSE(loaded.HeightRead);
    EXPECT_EQ(s.WindowWidth, 1024);
    EXPECT_EQ(s.WindowHeight, 410);
    EXPECT_EQ(s.HexOnly, 7u);
    EXPECT_EQ(s.TimeStamps, 3u);
}

TEST_F(SettingsTest, SavedTextsNeverExceedTheirLimits) {
    Settings out;
    out.RemoteHost = std::string(70, 'h');
    out.RemotePort = "123456789";
    out.LogFile = std::string(260, 'f');
    {
        platform::SettingsKey key;
        SaveSettings(key, out);
    }
    Settings in;
    platform::SettingsKey key;
    LoadSettings(key, in);
    EXPECT_EQ(in.RemoteHost, std::string(63, 'h'));
    EXPECT_EQ(in.RemotePort, "1234567");
    EXPECT_EQ(in.LogFile, std::string(255, 'f'));
}

}  // namespace
}  // namespace corvane::control
