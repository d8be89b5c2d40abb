// The settings over a temporary store: defaults, read sizes, snapping, and the round trip.
#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
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
    s.Tls = 3;
    s.TlsCert = "left.pem";
    s.TlsVerify = 1;
    platform::SettingsKey key;
    const LoadedSettings loaded = LoadSettings(key, s);
    EXPECT_TRUE(loaded.KeyOpened);
    EXPECT_FALSE(loaded.WidthRead);
    EXPECT_FALSE(loaded.HeightRead);
    EXPECT_EQ(s.BufferSize, 32768);
    EXPECT_EQ(s.Detail, 2u);
    EXPECT_EQ(s.HexOnly, 0u);
    EXPECT_EQ(s.TimeStamps, 0u);
    EXPECT_EQ(s.Tls, 0u);
    EXPECT_EQ(s.TlsCert, "");
    EXPECT_EQ(s.TlsVerify, 0u);
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
    out.BufferSize = -1;
    out.Detail = 5;
    out.HexOnly = 1;
    out.TimeStamps = 1;
    out.Tls = 2;
    out.TlsCert = "/tmp/with blank/relay.pem";
    out.TlsKey = std::string(255, 'k');  // the longest a 256-character read takes
    out.TlsVerify = 1;
    out.Rotate = "1h,100M";
    out.PartsKept = 24;
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
    EXPECT_EQ(in.BufferSize, -1);
    EXPECT_EQ(in.Detail, 5u);  // kept as it is; it only acts as High
    EXPECT_EQ(in.HexOnly, 1u);
    EXPECT_EQ(in.TimeStamps, 1u);
    EXPECT_EQ(in.Tls, 2u);
    EXPECT_EQ(in.TlsCert, out.TlsCert);
    EXPECT_EQ(in.TlsKey, out.TlsKey);
    EXPECT_EQ(in.TlsVerify, 1u);
    EXPECT_EQ(in.Rotate, out.Rotate);
    EXPECT_EQ(in.PartsKept, 24u);
    EXPECT_EQ(in.WindowWidth, 800);
    EXPECT_EQ(in.WindowHeight, 600);
    EXPECT_EQ(in.AutoStart, 0);  // never stored
}

TEST_F(SettingsTest, ALineThatRunsOnCostsOnlyItsOwnValue) {
    // An open double quote, or a backslash at the end, would join the lines after it.
    for (const char* broken : {"Local%20Port=\"x", "Local%20Port=x\\"}) {
        corvane::test::TemporarySettings store;
        ASSERT_TRUE(QDir().mkpath(QFileInfo(store.FilePath()).path()));
        {
            QFile file(store.FilePath());
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write("[General]\nRemote%20Host=before\n" + QByteArray(broken) +
                       "\nRemote%20Port=81\nBuffer%20Size=100000\n");
        }
        for (int run = 0; run < 2; ++run) {  // as read, and as read back after a save
            Settings s;
            {
                platform::SettingsKey key;
                LoadSettings(key, s);
                SaveSettings(key, s);
            }
            EXPECT_EQ(s.RemoteHost, "before") << broken;
            EXPECT_EQ(s.RemotePort, "81") << broken;
            EXPECT_EQ(s.LocalPort, "") << broken;
            EXPECT_EQ(s.BufferSize, 100000) << broken;
        }
    }
}

// Listen Address and Half Close go to the store only once set, so that a store that never
// had them stays as it was; once there, they are written back also at their defaults.
TEST_F(SettingsTest, ListenAddressAndHalfCloseAreStoredOnlyOnceSet) {
    Settings s;
    {
        platform::SettingsKey key;
        SaveSettings(key, s);
    }
    QSettings store(QStringLiteral("Halvard"), QStringLiteral("Corvane"));
    EXPECT_FALSE(store.contains(QStringLiteral("Listen Address")));
    EXPECT_FALSE(store.contains(QStringLiteral("Half Close")));
    s.ListenAddress = "::1";
    s.HalfClose = 1;
    {
        platform::SettingsKey key;
        SaveSettings(key, s);
    }
    Settings in;
    {
        platform::SettingsKey key;
        LoadSettings(key, in);
    }
    EXPECT_EQ(in.ListenAddress, "::1");
    EXPECT_EQ(in.HalfClose, 1u);
    in.ListenAddress.clear();
    in.HalfClose = 0;
    {
        platform::SettingsKey key;
        SaveSettings(key, in);
    }
    Settings again;
    again.ListenAddress = "left over";
    again.HalfClose = 7;
    platform::SettingsKey key;
    LoadSettings(key, again);
    EXPECT_EQ(again.ListenAddress, "");
    EXPECT_EQ(again.HalfClose, 0u);
    EXPECT_TRUE(again.ListenAddressStored);
}

// The Capture File, the TLS values, Keep Streams and rotation likewise: absent until set,
// then kept, also when cleared again.
TEST_F(SettingsTest, OptionsAreWrittenOnlyWhenSetOrAlreadyStored) {
    struct Value {
        const char* name;
        void (*set)(Settings&, bool on);
        const char* shownSet;  // as the store holds it once set, then once cleared
        const char* shownCleared;
    };
    const Value values[] = {
        {"Capture File", [](Settings& s, bool on) { s.CaptureFile = on ? "run.pcap" : ""; },
         "run.pcap", ""},
        {"TLS", [](Settings& s, bool on) { s.Tls = on ? 3 : 0; }, "3", "0"},
        {"TLS Certificate", [](Settings& s, bool on) { s.TlsCert = on ? "c.pem" : ""; }, "c.pem",
         ""},
        {"TLS Key", [](Settings& s, bool on) { s.TlsKey = on ? "k.pem" : ""; }, "k.pem", ""},
        {"TLS Verify", [](Settings& s, bool on) { s.TlsVerify = on ? 1 : 0; }, "1", "0"},
        // Keep Streams is on by default: "set" is any other bound, in MiB.
        {"Keep Streams",
         [](Settings& s, bool on) { s.KeepStreams = on ? 64LL << 20 : kDefaultKeepStreams; }, "64",
         "256"},
        {"Rotate", [](Settings& s, bool on) { s.Rotate = on ? "1h,100M" : ""; }, "1h,100M", ""},
        {"Parts Kept", [](Settings& s, bool on) { s.PartsKept = on ? 24 : 0; }, "24", "0"},
    };
    for (const Value& v : values) {
        auto saved = [&](bool on) {
            Settings s;
            v.set(s, on);
            {
                platform::SettingsKey key;
                SaveSettings(key, s);
            }
            const QSettings store(QStringLiteral("Halvard"), QStringLiteral("Corvane"));
            const QString name = QString::fromLatin1(v.name);
            return store.contains(name) ? store.value(name).toString().toStdString()
                                        : std::string("absent");
        };
        EXPECT_EQ(saved(false), "absent") << v.name << ": a store that never had it";
        EXPECT_EQ(saved(true), v.shownSet) << v.name;
        EXPECT_EQ(saved(false), v.shownCleared) << v.name << ": cleared, not left behind";
    }
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

TEST_F(SettingsTest, TextsCountCharactersAsTheEditBoxesDo) {
    const auto times = [](int n, const std::string& piece) {
        std::string text;
        for (int i = 0; i < n; ++i) {
            text += piece;
        }
        return text;
    };
    const std::string e = "\xC3\xA9";             // U+00E9, two bytes, one character
    const std::string face = "\xF0\x9F\x98\x80";  // U+1F600, four bytes, counted two
    const struct {
        std::string Settings::*field;
        std::string saved;
        std::string read;
    } cases[] = {
        {&Settings::LogFile, times(254, e) + "\xE2\x82\xAC", times(254, e) + "\xE2\x82\xAC"},
        {&Settings::LogFile, times(256, e), times(255, e)},
        {&Settings::RemoteHost, std::string(62, 'h') + face, std::string(62, 'h')},
        {&Settings::RemotePort, times(7, e), times(7, e)},
    };
    for (const auto& c : cases) {
        Settings out;
        out.*c.field = c.saved;
        {
            platform::SettingsKey key;
            SaveSettings(key, out);
        }
        Settings in;
        platform::SettingsKey key;
        LoadSettings(key, in);
        EXPECT_EQ(in.*c.field, c.read);
    }
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
