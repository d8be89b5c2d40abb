// The controls by run state: Stopped at design and after Stop, Started, Paused; the Pause
// toggle and its hints; Reset; Hex Only; Enter pressing the default button.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTcpSocket>
#include <QToolButton>

#include "form_support.h"
#include "ui/hints.h"

namespace corvane::ui::testing {
namespace {

enum class State { Stopped, Started, Paused };

// Every row of the controls-by-state table for one state.
// At design the Pause button keeps its own longer hint; every state change sets it.
void ExpectControls(TForm1& f, State state, bool design = false) {
    const bool stopped = state == State::Stopped;
    const bool paused = state == State::Paused;
    SCOPED_TRACE(stopped ? "Stopped" : paused ? "Paused" : "Started");
    EXPECT_EQ(f.MenuItemStart->isEnabled(), stopped);
    EXPECT_EQ(f.SpeedButtonStart->isEnabled(), stopped);
    EXPECT_EQ(f.ButtonStart->isEnabled(), stopped);
    EXPECT_EQ(f.ButtonStart->isDefault(), stopped);
    EXPECT_EQ(f.MenuItemStop->isEnabled(), !stopped);
    EXPECT_EQ(f.SpeedButtonStop->isEnabled(), !stopped);
    EXPECT_EQ(f.ButtonStop->isEnabled(), !stopped);
    EXPECT_EQ(f.MenuItemPause->isEnabled(), state == State::Started);
    EXPECT_EQ(f.ButtonPause->isEnabled(), state == State::Started);
    EXPECT_EQ(f.SpeedButtonPause->isEnabled(), !stopped);
    EXPECT_EQ(f.SpeedButtonPause->isChecked(), paused);
    EXPECT_EQ(f.MenuItemResume->isEnabled(), paused);
    EXPECT_EQ(f.ButtonResume->isEnabled(), paused);
    EXPECT_EQ(f.MenuItemReset->isEnabled(), !stopped);
    EXPECT_EQ(f.MenuItemHexOnly->isEnabled(), stopped);
    for (QLineEdit* e : {f.EditRemoteHost, f.EditRemotePort, f.EditLocalPort, f.EditLogFile}) {
        EXPECT_EQ(e->isReadOnly(), !stopped) << e->objectName().toStdString();
        const QColor base = e->palette().color(QPalette::Base);
        const QColor face = e->palette().color(QPalette::Button);
        EXPECT_EQ(base == face, !stopped) << e->objectName().toStdString();
    }
    EXPECT_EQ(f.ButtonBrowse->isEnabled(), stopped);
    const char* panel = stopped ? "Stopped" : paused ? "Paused" : "Started";
    EXPECT_EQ(f.StatusPanel[2]->text().toStdString(), panel);
    // Size, Detail and Clear stay available in every state.
    EXPECT_TRUE(f.MMenuItemSize->menuAction()->isEnabled());
    EXPECT_TRUE(f.MMenuItemDetail->menuAction()->isEnabled());
    EXPECT_TRUE(f.MMenuItemClear->isEnabled());
    EXPECT_TRUE(f.MenuClear->isEnabled());
    if (design) {
        return;
    }
    EXPECT_EQ(HintOf(*f.SpeedButtonPause).toStdString(),
              paused ? "Resume|Continue transferring data"
                     : "Pause|Temporarily discontinue transferring data");
}

using RunningStateTest = FormTest;

TEST_F(RunningStateTest, EveryStateShowsItsControls) {
    ExpectControls(Form(), State::Stopped, true);
    StartRelay();
    ExpectControls(Form(), State::Started);
    Form().SpeedButtonPause->click();
    ASSERT_TRUE(Form().Control().Paused());
    ExpectControls(Form(), State::Paused);
    Form().SpeedButtonPause->click();
    ASSERT_FALSE(Form().Control().Paused());
    ExpectControls(Form(), State::Started);
    Form().MenuItemPause->trigger();
    ExpectControls(Form(), State::Paused);
    Form().ButtonStop->click();
    ASSERT_FALSE(Form().Control().Running());
    ExpectControls(Form(), State::Stopped);
}

TEST_F(RunningStateTest, StopWhilePausedPutsThePauseButtonUpWithItsHint) {
    StartRelay();
    Form().ButtonPause->click();
    EXPECT_TRUE(Form().SpeedButtonPause->isChecked());
    EXPECT_EQ(Form().SpeedButtonPause->toolTip().toStdString(), "Resume");
    Form().MenuItemStop->trigger();
    EXPECT_FALSE(Form().SpeedButtonPause->isChecked());
    EXPECT_EQ(Form().SpeedButtonPause->toolTip().toStdString(), "Pause");
    // The pointer over the button shows the long part in panel 0.
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(Form().SpeedButtonPause, &enter);
    EXPECT_EQ(Form().StatusPanel[0]->text().toStdString(),
              "Temporarily discontinue transferring data");
}

TEST_F(RunningStateTest, ResumeButtonAndMenuResume) {
    StartRelay();
    Form().MenuItemPause->trigger();
    Form().ButtonResume->click();
    EXPECT_FALSE(Form().Control().Paused());
    Form().ButtonPause->click();
    Form().MenuItemResume->trigger();
    EXPECT_FALSE(Form().Control().Paused());
    ExpectControls(Form(), State::Started);
}

TEST_F(RunningStateTest, ResetZeroesTransferredOnly) {
    StartRelay();
    QTcpSocket client;
    client.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), LocalPort());
    ASSERT_TRUE(WaitFor([&] { return server_.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> peer(server_.nextPendingConnection());
    client.write("ping\r\n");
    peer->write("pong pong\r\n");
    ASSERT_TRUE(WaitFor([&] {
        return Form().LabelCSTrans->text() == QStringLiteral("6") &&
               Form().LabelSCTrans->text() == QStringLiteral("11");
    }));
    EXPECT_EQ(Form().LabelConns->text().toStdString(), "1");
    Form().MenuItemReset->trigger();
    EXPECT_EQ(Form().LabelCSTrans->text().toStdString(), "0");
    EXPECT_EQ(Form().LabelSCTrans->text().toStdString(), "0");
    EXPECT_EQ(Form().LabelConns->text().toStdString(), "1");
    EXPECT_EQ(Form().LabelCSBuf->text().toStdString(), "0");
    EXPECT_EQ(Form().Control().Engine().CSTransferred(), 0);
}

TEST_F(RunningStateTest, HexOnlyTogglesOnlyWhileStopped) {
    EXPECT_FALSE(Form().MenuItemHexOnly->isChecked());
    Form().MenuItemHexOnly->trigger();
    EXPECT_TRUE(Form().MenuItemHexOnly->isChecked());
    EXPECT_EQ(Form().Control().HexOnly(), 1u);
    StartRelay();
    Form().MenuItemHexOnly->trigger();  // disabled: no effect
    EXPECT_TRUE(Form().MenuItemHexOnly->isChecked());
    EXPECT_EQ(Form().Control().HexOnly(), 1u);
    // Size and Detail still change while running.
    Form().MMenuItemLow->trigger();
    EXPECT_EQ(Form().Control().Log().Detail, 0u);
    Form().MenuItem2MB->trigger();
    EXPECT_EQ(Form().Control().Log().BufferSize, 2097152);
    Form().ButtonStop->click();
    Form().MenuItemHexOnly->trigger();
    EXPECT_FALSE(Form().MenuItemHexOnly->isChecked());
    EXPECT_EQ(Form().Control().HexOnly(), 0u);
}

TEST_F(RunningStateTest, EnterPressesStartOnlyWhileItIsTheDefault) {
    ShowAndActivate();
    FillParameters();
    Form().EditRemotePort->setFocus();
    QTest::keyClick(Form().EditRemotePort, Qt::Key_Return);
    ASSERT_TRUE(Form().Control().Running());
    EXPECT_FALSE(Form().ButtonStart->isDefault());
    // Running: Enter in an edit box (now read-only) starts nothing and stops nothing.
    Form().EditRemoteHost->setFocus();
    QTest::keyClick(Form().EditRemoteHost, Qt::Key_Return);
    EXPECT_TRUE(Form().Control().Running());
}

TEST_F(RunningStateTest, MnemonicsPressTheirButtons) {
    ShowAndActivate();
    FillParameters();
    QTest::keyClick(&Form(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(WaitFor([&] { return Form().Control().Running(); }));
    // Alt+A is also the Action menu's; the button still takes it.
    QTest::keyClick(&Form(), Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(WaitFor([&] { return Form().Control().Paused(); }));
    QTest::keyClick(&Form(), Qt::Key_U, Qt::AltModifier);
    ASSERT_TRUE(WaitFor([&] { return !Form().Control().Paused(); }));
    QTest::keyClick(&Form(), Qt::Key_O, Qt::AltModifier);
    ASSERT_TRUE(WaitFor([&] { return !Form().Control().Running(); }));
}

TEST_F(RunningStateTest, EachStartCommandStarts) {
    FillParameters();
    Form().MenuItemStart->trigger();
    EXPECT_TRUE(Form().Control().Running());
    Form().SpeedButtonStop->click();
    EXPECT_FALSE(Form().Control().Running());
    Form().SpeedButtonStart->click();
    EXPECT_TRUE(Form().Control().Running());
}

TEST_F(RunningStateTest, RejectedStartShowsTheErrorBoxAndFocusesTheBox) {
    ShowAndActivate();
    auto box = AnswerMessageBox(QMessageBox::Ok);
    Form().ButtonStart->click();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->caption.toStdString(), "Corvane");
    EXPECT_EQ(box->text.toStdString(), "Remote Host required.");
    EXPECT_EQ(Form().focusWidget(), Form().EditRemoteHost);
    ExpectControls(Form(), State::Stopped, true);

    Form().EditRemoteHost->setText(QStringLiteral("127.0.0.1"));
    Form().EditRemotePort->setText(QStringLiteral("abc"));
    box = AnswerMessageBox(QMessageBox::Ok);
    Form().MenuItemStart->trigger();
    EXPECT_EQ(box->text.toStdString(), "Remote Port must be a positive integer.");
    EXPECT_EQ(Form().focusWidget(), Form().EditRemotePort);
}

TEST_F(RunningStateTest, PortBoxesRefuseAnEighthCharacter) {
    ShowAndActivate();
    for (QLineEdit* edit : {Form().EditRemotePort, Form().EditLocalPort}) {
        edit->setFocus();
        QTest::keyClicks(edit, QStringLiteral("12345678"));
        EXPECT_EQ(edit->text().toStdString(), "1234567") << edit->objectName().toStdString();
    }
    EXPECT_EQ(Form().EditRemoteHost->maxLength(), 63);
    EXPECT_EQ(Form().EditLogFile->maxLength(), 255);
}

TEST_F(RunningStateTest, ClosingWhileRunningAsksAndNoKeepsRelaying) {
    ShowAndActivate();
    StartRelay();
    auto box = AnswerMessageBox(QMessageBox::No);
    Form().MenuItemExit->trigger();
    ASSERT_TRUE(box->seen);
    EXPECT_EQ(box->caption.toStdString(), "Confirm");
    EXPECT_EQ(box->text.toStdString(), "Do you want to stop processing and exit?");
    EXPECT_TRUE(Form().isVisible());
    EXPECT_TRUE(Form().Control().Running());

    box = AnswerMessageBox(QMessageBox::Yes);
    Form().close();
    EXPECT_TRUE(box->seen);
    EXPECT_FALSE(Form().isVisible());
    EXPECT_FALSE(Form().Control().Running());
}

TEST_F(RunningStateTest, ClosingWhileStoppedAsksNothing) {
    ShowAndActivate();
    auto box = AnswerMessageBox(QMessageBox::Yes);
    Form().MenuItemExit->trigger();
    EXPECT_FALSE(Form().isVisible());
    EXPECT_FALSE(box->seen);
}

}  // namespace
}  // namespace corvane::ui::testing

namespace corvane::ui::testing {
namespace {

TEST(AutoStart, StartsAtTheFirstIdleMomentAndClosesWithoutAsking) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    TForm1 form;
    ASSERT_EQ(form.StartUp({"127.0.0.1", std::to_string(server.serverPort()), "", "-auto"}),
              control::StartupResult::Ready);
    EXPECT_FALSE(form.Control().Running());
    form.show();
    ASSERT_TRUE(RunLoopUntil([&] { return form.Control().Running(); }));
    EXPECT_EQ(form.StatusPanel[2]->text().toStdString(), "Started");
    auto box = AnswerMessageBox(QMessageBox::Yes);
    form.close();
    CancelAnswers();
    EXPECT_FALSE(box->seen);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Control().Running());
}

}  // namespace
}  // namespace corvane::ui::testing
