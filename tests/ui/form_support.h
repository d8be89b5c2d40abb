// The fixture of the window tests: a real TForm1 started up against a settings store in a
// temporary folder, a Server on 127.0.0.1 to relay to, and helpers to answer modal boxes
// and to wait, every wait bounded.
#pragma once

#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <memory>

#include "ui/form1.h"

class QWidget;

namespace corvane::ui::testing {

// Waits until cond holds, at most about timeoutMs; true when it held.
bool WaitFor(const std::function<bool()>& cond, int timeoutMs = 5000);

// Like WaitFor, but runs a real event loop that waits for events, so that the idle
// handler (which runs only when the loop is about to wait) gets its turns.
bool RunLoopUntil(const std::function<bool()>& cond, int timeoutMs = 5000);

// Calls answer(modal) as soon as a modal widget is active (polled every few milliseconds,
// for at most a few seconds), from inside the modal's own event loop.
void AnswerModal(std::function<void(QWidget*)> answer);
// Stops every AnswerModal still waiting (FormTest does it at the end of each test).
void CancelAnswers();
// Clicks the given standard button of the next QMessageBox and records its caption and text.
struct BoxSeen {
    bool seen = false;
    QString caption;
    QString text;
};
std::shared_ptr<BoxSeen> AnswerMessageBox(int standardButton);

class FormTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Shows the window and waits until it is active.
    void ShowAndActivate();
    // Fills the parameters with 127.0.0.1, the Server's port and an empty Local Port.
    void FillParameters();
    // FillParameters, then Start through ButtonStart; asserts the relay runs.
    void StartRelay();
    // The Local Port the relay listens on.
    quint16 LocalPort();

    TForm1& Form() { return *form_; }

    QTemporaryDir configDir_;
    QTemporaryDir workDir_;
    QTcpServer server_;
    std::unique_ptr<TForm1> form_;
};

}  // namespace corvane::ui::testing
