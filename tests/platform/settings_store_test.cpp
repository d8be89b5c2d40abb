// The settings store in a temporary directory: the read sizes decide what counts as absent,
// and numbers are 32 bits in either signed or unsigned reading.
#include "platform/settings_store.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include "support/temporary_settings.h"

namespace corvane::platform {
namespace {

class SettingsStoreTest : public ::testing::Test {
protected:
    // Writes a raw value the way a hand-edited file or another program might have.
    void Store(const char* name, const QVariant& value) {
        QSettings raw(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Halvard"),
                      QStringLiteral("Corvane"));
        raw.setValue(QString::fromUtf8(name), value);
    }
    test::TemporarySettings temp_;
};

TEST_F(SettingsStoreTest, WritesGoToTheRedirectedFileAndReadBack) {
    ASSERT_TRUE(temp_.IsValid());
    {
        SettingsKey key;
        ASSERT_TRUE(key.IsOpen());
        key.SetDword("Buffer Size", 131072);
        key.SetString("Remote Host", "example.test");
        key.SetString("Log File", "");
    }
    EXPECT_TRUE(QFile::exists(temp_.FilePath()));
    SettingsKey key;
    std::uint32_t size = 0;
    std::string host;
    std::string log = "unchanged";
    EXPECT_TRUE(key.QueryDword("Buffer Size", size));
    EXPECT_EQ(size, 131072u);
    EXPECT_TRUE(key.QueryString("Remote Host", 64, host));
    EXPECT_EQ(host, "example.test");
    EXPECT_TRUE(key.QueryString("Log File", 256, log));
    EXPECT_EQ(log, "");
}

// The folder holds the relay's TLS key too: made 0700 from the start, whatever the umask,
// by the store's first use and by the first Start that asks for the folder alike.
TEST_F(SettingsStoreTest, TheStoresFolderIsMadePrivateWhateverTheUmask) {
    const std::string folder = QFileInfo(temp_.FilePath()).absolutePath().toStdString();
    const mode_t umask = ::umask(0);
    for (const bool byStore : {true, false}) {
        SCOPED_TRACE(byStore ? "the store" : "SettingsDirectory");
        QDir(QString::fromStdString(folder)).removeRecursively();
        if (byStore) {
            SettingsKey key;
            key.SetDword("Width", 630);
        } else {
            EXPECT_EQ(SettingsDirectory(), folder);
        }
        struct stat st {};
        ASSERT_EQ(::stat(folder.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0700u);
    }
    ::umask(umask);
}

TEST_F(SettingsStoreTest, MalformedLineKeepsTheGoodValuesAndIsRewrittenOnSave) {
    ASSERT_TRUE(temp_.IsValid());
    QDir().mkpath(QFileInfo(temp_.FilePath()).path());
    {
        QFile file(temp_.FilePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(
            "[General]\nWidth=700\nRemote%20Host=example.org\nthis line has no equals sign\n");
    }
    {
        SettingsKey key;
        ASSERT_TRUE(key.IsOpen());
        std::uint32_t width = 0;
        std::string host;
        EXPECT_TRUE(key.QueryDword("Width", width));
        EXPECT_EQ(width, 700u);
        EXPECT_TRUE(key.QueryString("Remote Host", 64, host));
        EXPECT_EQ(host, "example.org");
        key.SetDword("Width", 800);
    }
    QFile file(temp_.FilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("Width=800"));
    EXPECT_TRUE(text.contains("Remote%20Host=example.org"));
    EXPECT_FALSE(text.contains("no equals sign"));
}

TEST_F(SettingsStoreTest, StringReadFailsWhenAbsentOrTooLongForTheBuffer) {
    Store("Remote Host", QString(63, QLatin1Char('h')));
    Store("Remote Port", QStringLiteral("12345678"));
    SettingsKey key;
    std::string value = "kept";
    EXPECT_FALSE(key.QueryString("Local Port", 8, value));
    EXPECT_EQ(value, "kept");
    EXPECT_TRUE(key.QueryString("Remote Host", 64, value));
    EXPECT_EQ(value.size(), 63u);
    EXPECT_FALSE(key.QueryString("Remote Host", 63, value)) << "63 characters need 64 bytes";
    value = "kept";
    EXPECT_FALSE(key.QueryString("Remote Port", 8, value));
    EXPECT_EQ(value, "kept");
}

TEST_F(SettingsStoreTest, NumbersAcceptEitherReadingOfThirtyTwoBits) {
    Store("Width", QStringLiteral("-5"));
    Store("Height", QStringLiteral("4294967295"));
    Store("Detail", QStringLiteral("4294967296"));
    Store("Hex Only", QStringLiteral("yes"));
    Store("Buffer Size", QStringLiteral("-2147483649"));
    SettingsKey key;
    std::uint32_t v = 7;
    EXPECT_TRUE(key.QueryDword("Width", v));
    EXPECT_EQ(static_cast<std::int32_t>(v), -5);
    EXPECT_TRUE(key.QueryDword("Height", v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
    v = 7;
    EXPECT_FALSE(key.QueryDword("Detail", v));
    EXPECT_FALSE(key.QueryDword("Hex Only", v));
    EXPECT_FALSE(key.QueryDword("Buffer Size", v));
    EXPECT_FALSE(key.QueryDword("Absent", v));
    EXPECT_EQ(v, 7u);
}

TEST_F(SettingsStoreTest, StoredTypeIsNotExaminedOnReading) {
    SettingsKey key;
    key.SetString("Detail", "1");
    key.SetDword("Remote Port", 8080);
    std::uint32_t detail = 0;
    std::string port;
    EXPECT_TRUE(key.QueryDword("Detail", detail));
    EXPECT_EQ(detail, 1u);
    EXPECT_TRUE(key.QueryString("Remote Port", 8, port));
    EXPECT_EQ(port, "8080");
}

TEST_F(SettingsStoreTest, TextWithCommasReadsBackWhole) {
    SettingsKey key;
    key.SetString("Log File", "a, b,c.log");
    std::string value;
    EXPECT_TRUE(key.QueryString("Log File", 256, value));
    EXPECT_EQ(value, "a, b,c.log");
}

}  // namespace
}  // namespace corvane::platform
