#include "form_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QEventLoop>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QTimer>

namespace corvane::ui::testing {

bool WaitFor(const std::function<bool()>& cond, int timeoutMs) {
    return QTest::qWaitFor(cond, timeoutMs);
}

bool RunLoopUntil(const std::function<bool()>& cond, int timeoutMs) {
    if (cond()) {
        return true;
    }
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (cond()) {
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return cond();
}

namespace {

// The parent of the answering timers, so that a test's unanswered ones end with the test
// instead of answering the next test's boxes.
QObject& Answerers() {
    static QObject* parent = new QObject(qApp);
    return *parent;
}

}  // namespace

void CancelAnswers() {
    const QObjectList pending = Answerers().children();
    for (QObject* timer : pending) {
        delete timer;
    }
}

void AnswerModal(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer(&Answerers());
    timer->setInterval(5);
    auto tries = std::make_shared<int>(0);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, tries, answer] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal != nullptr || ++*tries > 600) {
            timer->stop();
            timer->deleteLater();
            if (modal != nullptr) {
                answer(modal);
            }
        }
    });
    timer->start();
}

std::shared_ptr<BoxSeen> AnswerMessageBox(int standardButton) {
    auto seen = std::make_shared<BoxSeen>();
    AnswerModal([seen, standardButton](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            modal->close();
            return;
        }
        seen->seen = true;
        seen->caption = box->windowTitle();
        seen->text = box->text();
        if (QAbstractButton* button =
                box->button(static_cast<QMessageBox::StandardButton>(standardButton))) {
            button->click();
        } else {
            ADD_FAILURE() << "the box has no such button: " << box->text().toStdString();
            box->close();
        }
    });
    return seen;
}

void FormTest::SetUp() {
    ASSERT_TRUE(configDir_.isValid());
    ASSERT_TRUE(workDir_.isValid());
    // The settings store of this test only; never the user's.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, configDir_.path());
    ASSERT_TRUE(server_.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0));
    form_ = std::make_unique<TForm1>();
    ASSERT_EQ(form_->StartUp({}), control::StartupResult::Ready);
}

void FormTest::TearDown() {
    CancelAnswers();
    form_.reset();
}

void FormTest::ShowAndActivate() {
    form_->show();
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.get()));
}

void FormTest::FillParameters() {
    form_->EditRemoteHost->setText(QStringLiteral("127.0.0.1"));
    form_->EditRemotePort->setText(QString::number(server_.serverPort()));
    form_->EditLocalPort->setText(QString());
}

void FormTest::StartRelay() {
    FillParameters();
    form_->ButtonStart->click();
    ASSERT_TRUE(form_->Control().Running());
}

quint16 FormTest::LocalPort() {
    return form_->Control().Engine().LocalPortNumber;
}

}  // namespace corvane::ui::testing
