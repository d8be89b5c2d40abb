// SIGTERM and SIGINT while a modal box waits for an answer: the box is dismissed and the
// window closes as it does on a signal without one (the relay stopped, the Log File given its
// closing lines, the settings saved), instead of the box holding the program until answered.
#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QSettings>
#include <QTimer>
#include <csignal>

#include "form_support.h"
#include "support/temporary_settings.h"

namespace corvane::ui::testing {
namespace {

// Closes whatever modal widget is still open a few seconds after it was made, and remembers
// that it had to: without it a box that a signal failed to dismiss would hold the test.
class ModalGuard {
public:
    ModalGuard() {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            for (int i = 0; i < 4; ++i) {
                QWidget* modal = QApplication::activeModalWidget();
                if (modal == nullptr) {
                    break;
                }
                leftOpen_ = true;
                modal->hide();
            }
        });
        timer_.start(3000);
    }
    bool LeftOpen() const { return leftOpen_; }

private:
    QTimer timer_;
    bool leftOpen_ = false;
};

// Sends sig to this process as soon as a modal widget is active, from inside its own loop;
// the name of the widget that was open lands in *seen.
void SignalAtModal(int sig, QString* seen) {
    AnswerModal([sig, seen](QWidget* modal) {
        *seen = modal->objectName();
        ::raise(sig);
    });
}

TEST(SignalCloseStartUp, ASignalDismissesTheErrorBoxOfAFailedAutomaticStart) {
    corvane::test::TemporarySettings store;
    ASSERT_TRUE(store.IsValid());
    TForm1 form;
    // The Remote Port is refused by Start, which the first idle moment runs.
    ASSERT_EQ(form.StartUp({"127.0.0.1", "no-port", "0", "-auto"}), control::StartupResult::Ready);
    ModalGuard guard;
    QString seen;
    SignalAtModal(SIGTERM, &seen);
    form.show();
    EXPECT_TRUE(RunLoopUntil(
        [&] {
            return !seen.isEmpty() && !form.isVisible() &&
                   QApplication::activeModalWidget() == nullptr;
        },
        8000));
    CancelAnswers();
    EXPECT_EQ(seen.toStdString(), "ErrorBox");
    EXPECT_FALSE(guard.LeftOpen()) << "the error box outlived the signal";
    EXPECT_FALSE(form.isVisible());
    QSettings saved(store.FilePath(), QSettings::IniFormat);
    EXPECT_EQ(saved.value(QStringLiteral("Remote Port")).toString().toStdString(), "no-port");
}

using SignalCloseTest = FormTest;

TEST_F(SignalCloseTest, ASignalDuringTheCloseQuestionStopsAndClosesWithoutAnAnswer) {
    ShowAndActivate();
    const QString log = workDir_.filePath(QStringLiteral("closing.txt"));
    Form().EditLogFile->setText(log);
    StartRelay();
    ModalGuard guard;
    QString seen;
    SignalAtModal(SIGINT, &seen);
    Form().MenuItemExit->trigger();  // asks the question: the relay runs without "-auto"
    EXPECT_TRUE(RunLoopUntil([&] { return !seen.isEmpty() && !Form().isVisible(); }, 8000));
    CancelAnswers();
    EXPECT_EQ(seen.toStdString(), "CloseQuestion");
    EXPECT_FALSE(guard.LeftOpen()) << "the close question outlived the signal";
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_FALSE(Form().isVisible());
    EXPECT_FALSE(Form().Control().Running());

    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const std::string text = file.readAll().toStdString();
    EXPECT_NE(text.find("Stopped by user\r\nLocal Port closed\r\n"), std::string::npos) << text;
    QSettings saved(configDir_.filePath(QStringLiteral("Halvard/Corvane.conf")),
                    QSettings::IniFormat);
    EXPECT_EQ(saved.value(QStringLiteral("Log File")).toString().toStdString(), log.toStdString());
    EXPECT_EQ(saved.value(QStringLiteral("Remote Port")).toString().toStdString(),
              std::to_string(server_.serverPort()));
}

}  // namespace
}  // namespace corvane::ui::testing
