// The Network Conditions dialog on the real window: a change reaches an open Connection at
// once, the indicator follows the set, a bad value applies nothing, a preset saved and chosen
// again comes back whole from its file, the chosen preset is in force at the next start, and
// with no condition on the window and its outputs are as they were.
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpSocket>
#include <functional>
#include <string>

#include "control/conditions_presets.h"
#include "form_support.h"
#include "platform/settings_store.h"
#include "relay/conditions/conditions_text.h"
#include "relay/conditions/presets.h"
#include "support/loopback_peers.h"
#include "ui/conditions_dialog.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui::testing {
namespace {

class ConditionsDialogTest : public FormTest {
protected:
    TConditionsDialog& Dialog() {
        Form().MenuItemConditions->trigger();
        auto* dialog = Form().findChild<TConditionsDialog*>();
        EXPECT_NE(dialog, nullptr);
        return *dialog;
    }
    // As a user types a value and presses Enter, which applies it (or saves, in the name box).
    static void Type(QLineEdit* box, const QString& text) {
        box->clear();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    }
    static void Choose(QComboBox* combo, const QString& item) {
        combo->setCurrentIndex(combo->findText(item));
    }
    const relay::Conditions& InForce() { return Form().Control().Conditions(); }
    bool IndicatorOn() { return !Form().LabelConditions->isHidden(); }
    bool Logged(const QString& text) {
        return WaitFor([&] { return Form().Memo1->toPlainText().contains(text); });
    }
    // A new window, started up as the program does, on the same settings store.
    void Restart(const std::vector<std::string>& args = {}) {
        form_->close();
        form_ = std::make_unique<TForm1>();
        ASSERT_EQ(form_->StartUp(args), control::StartupResult::Ready);
    }
};

TEST_F(ConditionsDialogTest, AChangeReachesAnOpenConnectionAtOnce) {
    std::uint16_t serverPort = 0;
    const int listener = test::ListenPeer(serverPort);
    FillParameters();
    Form().EditRemotePort->setText(QString::number(serverPort));
    Form().ButtonStart->click();
    ASSERT_TRUE(Form().Control().Running());
    const int client = test::ConnectPeer(LocalPort());
    const int server = test::AcceptPeer(listener);
    test::ExpectRelays(client, server);

    TConditionsDialog& dialog = Dialog();
    Type(dialog.Down.Bandwidth, QStringLiteral("10K"));
    EXPECT_TRUE(dialog.isVisible()) << "Enter applies the box; it does not close the dialog";
    EXPECT_EQ(InForce().down.bandwidth.bytesPerSecond, 10000);
    EXPECT_TRUE(Logged(QStringLiteral("Conditions now: -bandwidth down:10K")));

    std::string block;
    for (int i = 0; block.size() < 10000; ++i) {
        block += std::to_string(i) + ' ';
    }
    block.resize(10000);
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(test::SendPeer(server, block));
    std::string received;
    ASSERT_TRUE(test::ReceivePeer(client, received, block.size(), 10000));
    EXPECT_GE(clock.elapsed(), 900) << "10,000 bytes at 10K a second take a second";
    EXPECT_EQ(received, block);
    for (const int fd : {client, server, listener}) {
        test::ClosePeer(fd);
    }
}

// The indicator is on while any condition is, whatever set it: a preset, a choice, a box. The
// preset combo box names the preset in force ("" for Custom), and only a chosen one is kept.
TEST_F(ConditionsDialogTest, TheIndicatorIsOnWhileAnyConditionIs) {
    TConditionsDialog& d = Dialog();
    EXPECT_FALSE(IndicatorOn());
    EXPECT_EQ(d.ComboPreset->currentText(), QStringLiteral("Off"));
    struct Step {
        const char* what;
        std::function<void()> act;
        bool on;
        const char* shown;
        const char* kept;
    };
    const Step steps[] = {
        {"a preset", [&] { Choose(d.ComboPreset, QStringLiteral("Lossy Wi-Fi")); }, true,
         "Lossy Wi-Fi", "Lossy Wi-Fi"},
        {"Off", [&] { Choose(d.ComboPreset, QStringLiteral("Off")); }, false, "Off", ""},
        {"holding new Clients", [&] { d.ComboRefuse->setCurrentIndex(3); }, true, "", ""},
        {"no more", [&] { d.ComboRefuse->setCurrentIndex(0); }, false, "Off", ""},
        {"a share alone", [&] { Type(d.EditShare, QStringLiteral("50")); }, false, "", ""},
        {"a stall at once", [&] { Type(d.EditStallAfter, QStringLiteral("0")); }, true, "", ""},
        {"every box empty",
         [&] {
             Type(d.EditStallAfter, {});
             Type(d.EditShare, {});
         },
         false, "Off", ""},
    };
    for (const Step& step : steps) {
        step.act();
        EXPECT_EQ(IndicatorOn(), step.on) << step.what;
        EXPECT_EQ(InForce().On(), step.on) << step.what;
        EXPECT_EQ(d.ComboPreset->currentText().toStdString(), step.shown) << step.what;
        EXPECT_EQ(Form().Control().ConditionsPreset(), step.kept) << step.what;
    }
}

TEST_F(ConditionsDialogTest, ABadValueIsNamedAndNothingApplies) {
    TConditionsDialog& d = Dialog();
    Choose(d.ComboPreset, QStringLiteral("Slow mobile"));
    const relay::Conditions before = InForce();
    struct Bad {
        QLineEdit* box;
        const char* text;
        const char* message;
    };
    const Bad cases[] = {
        {d.Up.Latency, "soon", "Client to Server latency: \"soon\" is not a time in ms"},
        {d.Down.Bandwidth, "fast", "Server to Client bandwidth: \"fast\" is not a number of bytes"},
        {d.EditShare, "150", "Share: \"150\" is not a percentage"},
        {d.EditStallEnd, "100", "End a stall after: it needs a stall time"},
    };
    for (const Bad& bad : cases) {
        const QString good = bad.box->text();
        Type(bad.box, QString::fromLatin1(bad.text));
        EXPECT_EQ(InForce(), before) << bad.text;
        EXPECT_FALSE(d.LabelProblem->isHidden()) << bad.text;
        EXPECT_TRUE(d.LabelProblem->text().startsWith(QString::fromLatin1(bad.message)))
            << d.LabelProblem->text().toStdString();
        EXPECT_EQ(Form().Control().ConditionsPreset(), "Slow mobile");
        Type(bad.box, good);
        EXPECT_TRUE(d.LabelProblem->isHidden()) << bad.text;
    }
}

// Every box and choice filled in, saved under a name of the user's own (a conditions file
// corvane-cli reads), Off chosen, then the saved preset: each box shows what it showed.
TEST_F(ConditionsDialogTest, APresetSavedAndChosenAgainComesBackWholeFromItsFile) {
    TConditionsDialog& d = Dialog();
    const std::pair<QLineEdit*, const char*> typed[] = {
        {d.Up.Latency, "100"},    {d.Up.Jitter, "20"},        {d.Down.Bandwidth, "64K"},
        {d.Up.SliceSize, "10"},   {d.Up.SliceVariation, "3"}, {d.Up.SlicePause, "2.5"},
        {d.Down.Loss, "0.25"},    {d.Down.Limit, "1M"},       {d.EditConnectDelay, "50"},
        {d.EditEndAfter, "5000"}, {d.EditStallAfter, "2000"}, {d.EditStallEnd, "300"},
        {d.EditSlowClose, "30"},  {d.EditShare, "75"},        {d.EditSeed, "42"},
    };
    for (const auto& [box, text] : typed) {
        Type(box, QString::fromLatin1(text));
    }
    for (QComboBox* reset : {d.Down.LimitEnding, d.ComboEndAfterEnding, d.ComboStallEnding,
                             d.Up.JitterShape, d.ComboRefuse}) {
        reset->setCurrentIndex(1);  // reset, reset, reset, normal, close
    }
    const relay::Conditions set = InForce();
    EXPECT_EQ(relay::FormatConditions(set, relay::ConditionsLayout::OneLine),
              "-latency up:100,20,normal -bandwidth down:64K -slice up:10,3,2.5 -loss down:0.25 "
              "-limit down:1M,reset -connectdelay 50 -endafter 5000,reset -stall 2000,300,reset "
              "-slowclose 30 -refuse close -share 75 -seed 42");
    const auto boxes = [&] {
        QStringList shown;
        for (const QLineEdit* box : d.findChildren<QLineEdit*>()) {
            shown << box->objectName() + QLatin1Char('=') + box->text();
        }
        for (const QComboBox* choice : d.findChildren<QComboBox*>()) {
            shown << choice->objectName() + QLatin1Char('=') + choice->currentText();
        }
        return shown;
    };

    Type(d.EditPresetName, QStringLiteral("SATELLITE"));
    EXPECT_TRUE(d.LabelProblem->text().contains(QStringLiteral("is a built-in preset")));
    Type(d.EditPresetName, QStringLiteral("Flaky link"));
    EXPECT_TRUE(d.LabelProblem->isHidden());
    EXPECT_EQ(Form().Control().ConditionsPreset(), "Flaky link");
    const QStringList saved = boxes();
    QFile file(QString::fromStdString(control::PresetPath("Flaky link")));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    relay::TextProblem problem;
    EXPECT_EQ(relay::ParseConditionsText(file.readAll().toStdString(), problem), set)
        << problem.text;

    Choose(d.ComboPreset, QStringLiteral("Off"));
    EXPECT_EQ(InForce(), relay::Conditions{});
    EXPECT_TRUE(d.Up.Latency->text().isEmpty());
    Choose(d.ComboPreset, QStringLiteral("Flaky link"));
    EXPECT_EQ(InForce(), set);
    EXPECT_EQ(boxes(), saved);
}

TEST_F(ConditionsDialogTest, TheChosenPresetIsInForceAtTheNextStartAndASetMadeByHandIsNot) {
    Choose(Dialog().ComboPreset, QStringLiteral("Satellite"));
    const relay::Conditions satellite = *relay::PresetConditions("Satellite");
    Restart();
    EXPECT_EQ(InForce(), satellite);
    EXPECT_TRUE(IndicatorOn());

    // The automatic start of a command line starts with it too.
    Restart({"127.0.0.1", std::to_string(server_.serverPort()), "", "-auto"});
    ASSERT_TRUE(RunLoopUntil([&] { return Form().Control().Running(); }));
    EXPECT_EQ(Form().Control().Engine().ConditionsInForce(), satellite);
    EXPECT_TRUE(Logged(QStringLiteral("Conditions: -latency 300,10 -bandwidth up:375K")));

    Type(Dialog().Up.Latency, QStringLiteral("1"));
    Restart();
    EXPECT_EQ(InForce(), relay::Conditions{});
    EXPECT_FALSE(IndicatorOn());
    platform::SettingsKey key;
    std::string kept = "(absent)";
    EXPECT_TRUE(key.QueryString("Conditions Preset", 64, kept));
    EXPECT_EQ(kept, "");
}

// Opening the dialog and leaving every box as it was changes nothing: no indicator, no
// "Conditions" line in the Log File, nothing kept in the store.
TEST_F(ConditionsDialogTest, WithNoConditionTheWindowAndItsOutputsStayAsTheyWere) {
    TConditionsDialog& d = Dialog();
    for (QLineEdit* box : d.findChildren<QLineEdit*>()) {
        Q_EMIT box->editingFinished();  // as leaving each box does
    }
    d.close();
    const QString logFile = workDir_.filePath(QStringLiteral("run.txt"));
    Form().EditLogFile->setText(logFile);
    StartRelay();
    QTcpSocket client;
    client.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), LocalPort());
    ASSERT_TRUE(client.waitForConnected(5000));
    client.write("hello\r\n");
    EXPECT_TRUE(Logged(QStringLiteral("hello")));
    EXPECT_FALSE(IndicatorOn());
    Form().Control().Stop();
    Form().close();

    QFile log(logFile);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    const QByteArray text = log.readAll();
    EXPECT_TRUE(text.contains("Stopped by user"));
    EXPECT_FALSE(text.contains("Conditions")) << text.toStdString();
    platform::SettingsKey key;
    std::string kept;
    EXPECT_FALSE(key.QueryString("Conditions Preset", 64, kept)) << "written only when set";
}

}  // namespace
}  // namespace corvane::ui::testing
