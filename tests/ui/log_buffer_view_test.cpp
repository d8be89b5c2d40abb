// The Log Buffer view: line ends counted as two, whole first lines deleted without leaving
// empty blocks, runs in their colours, trimming to the Buffer Size through the log, the
// Size and Detail check marks in both menus. (A selection that holds the view: reading_test.)
#include <QAction>
#include <QScrollBar>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTimer>
#include <chrono>
#include <memory>
#include <string>

#include "form_support.h"
#include "log/log_kind.h"
#include "log/traffic_log.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui::testing {
namespace {

constexpr log::Colour kNavy = log::ColourOf(log::LogKind::Message);
constexpr log::Colour kMaroon = log::ColourOf(log::LogKind::Inform);
constexpr log::Colour kRed = log::ColourOf(log::LogKind::Error);
constexpr log::Colour kBlack = log::ColourOf(log::LogKind::Data);

TEST(LogBufferView, CountsLineEndsAsTwoAndKeepsOneBlockPerLine) {
    TLogBufferView view;
    view.AppendRun("abc\r\n", kNavy);
    view.AppendRun("de\r\nfghi\r\n", kBlack);
    EXPECT_EQ(view.TextLength(), 5 + 4 + 6);
    EXPECT_EQ(view.document()->blockCount(), 3);
    EXPECT_EQ(view.toPlainText().toStdString(), "abc\nde\nfghi");
    EXPECT_EQ(view.textCursor().position(), view.DocumentLength());  // the caret at the end

    view.DeleteFirstLine();
    EXPECT_EQ(view.TextLength(), 10);
    EXPECT_EQ(view.toPlainText().toStdString(), "de\nfghi");
    view.DeleteFirstLine();
    view.DeleteFirstLine();
    EXPECT_EQ(view.TextLength(), 0);
    EXPECT_EQ(view.toPlainText().toStdString(), "");
    // After emptying, the next run starts on the first line, not below an empty one.
    view.AppendRun("again\r\n", kRed);
    EXPECT_EQ(view.document()->blockCount(), 1);
    EXPECT_EQ(view.TextLength(), 7);
}

TEST(LogBufferView, DeletingDownToALengthTakesWholeLinesInOneEdit) {
    TLogBufferView view;
    view.AppendRun("aa\r\nbbb\r\ncccc\r\n", kNavy);
    int edits = 0;
    QObject::connect(view.document(), &QTextDocument::contentsChange, [&] { ++edits; });
    EXPECT_EQ(view.DeleteFirstLinesDownTo(10), 6);  // 4 + 5 go, 6 stay
    EXPECT_EQ(edits, 1);
    EXPECT_EQ(view.toPlainText().toStdString(), "cccc");
    EXPECT_EQ(view.DeleteFirstLinesDownTo(6), 6);
    EXPECT_EQ(view.DeleteFirstLinesDownTo(-1), 0);  // the last line with its pending line end
    view.AppendRun("x\r\n", kRed);
    EXPECT_EQ(view.document()->blockCount(), 1);
    EXPECT_EQ(view.TextLength(), 3);
}

TEST(LogBufferView, ARunWithoutLineEndIsContinuedByTheNext) {
    TLogBufferView view;
    view.AppendRun("GET / HT", kBlack);
    view.AppendRun("TP/1.0\r\n", kBlack);
    EXPECT_EQ(view.document()->blockCount(), 1);
    EXPECT_EQ(view.TextLength(), 16);
    view.DeleteFirstLine();
    EXPECT_EQ(view.TextLength(), 0);
}

TEST(LogBufferView, EachRunKeepsItsColour) {
    TLogBufferView view;
    view.AppendRun("message\r\n", kNavy);
    view.AppendRun("inform\r\n", kMaroon);
    view.AppendRun("error\r\n", kRed);
    view.AppendRun("data\r\nmore data\r\n", kBlack);
    view.AppendRun("Host: 127.0.0.1:80\r\n", log::kPurple);
    EXPECT_EQ(view.ColourOfLine(0), kNavy);
    EXPECT_EQ(view.ColourOfLine(1), kMaroon);
    EXPECT_EQ(view.ColourOfLine(2), kRed);
    EXPECT_EQ(view.ColourOfLine(3), kBlack);
    EXPECT_EQ(view.ColourOfLine(4), kBlack);
    EXPECT_EQ(view.ColourOfLine(5), log::kPurple);
    // Deleting the first line shifts the colours with their lines.
    view.DeleteFirstLine();
    EXPECT_EQ(view.ColourOfLine(0), kMaroon);
}

TEST(LogBufferView, BytesAboveAsciiAreOneCharacterEach) {
    TLogBufferView view;
    view.AppendRun("caf\xE9\r\n", kBlack);
    EXPECT_EQ(view.TextLength(), 6);
    EXPECT_EQ(view.toPlainText(), QString::fromUtf8("caf\xC3\xA9"));
}

TEST(LogBufferView, InsertingDoesNotScrollOnlyScrollCaretIntoViewDoes) {
    TLogBufferView view;
    view.resize(300, 100);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    for (int i = 0; i < 100; ++i) {
        view.AppendRun("a line of the log\r\n", kBlack);
    }
    QScrollBar* bar = view.verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), 0);
    view.ScrollCaretIntoView();
    EXPECT_EQ(bar->value(), bar->maximum());
}

TEST(LogBufferView, IsReadOnlyFixedPitchAndUnwrapped) {
    TLogBufferView view;
    EXPECT_TRUE(view.isReadOnly());
    EXPECT_FALSE(view.isUndoRedoEnabled());
    EXPECT_EQ(view.lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(view.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_EQ(view.verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    EXPECT_TRUE(QFontInfo(view.font()).fixedPitch());
    EXPECT_EQ(view.font().pointSize(), 10);
}

class LogBufferTest : public FormTest {
protected:
    log::TrafficLog& Log() { return Form().Control().Log(); }
    // n lines of `width` characters plus CR LF, moved into the view at once.
    void FillLines(int n, int width) {
        const std::string line(static_cast<std::size_t>(width), 'x');
        for (int i = 0; i < n; ++i) {
            Log().LogMessage(line.c_str());
        }
        while (Log().FlushLogRun()) {
        }
    }
};

TEST_F(LogBufferTest, ARunDeletesWholeFirstLinesUntilItFits) {
    Log().BoundPending = false;
    // 320 lines of 98 + 2 characters: 32,000.
    FillLines(320, 98);
    ASSERT_EQ(Form().Memo1->TextLength(), 32000);
    const std::string run(998, 'd');
    Log().AppendLogLine(run.c_str(), log::LogKind::Data, -1, log::kDetailHigh);
    ASSERT_TRUE(Log().FlushLogRun());
    // At most 31,768 were kept before the 1,000 went in: 317 lines.
    EXPECT_EQ(Form().Memo1->TextLength(), 31700 + 1000);
    EXPECT_EQ(Form().Memo1->document()->blockCount(), 318);
    EXPECT_EQ(Form().Memo1->ColourOfLine(317), kBlack);
}

TEST_F(LogBufferTest, ARunLongerThanTheCapIsShownWhole) {
    FillLines(10, 50);
    const std::string huge(40000, 'h');
    Log().AppendLogLine(huge.c_str(), log::LogKind::Data, -1, log::kDetailHigh);
    ASSERT_TRUE(Log().FlushLogRun());
    EXPECT_EQ(Form().Memo1->TextLength(), 40002);
    EXPECT_EQ(Form().Memo1->document()->blockCount(), 1);
}

// A tick moves a slice of runs, each in its colour, until the queue is empty or the slice's
// budget is spent (here a clock that advances 8 ms at each reading: three runs). While entries
// remain, slices follow from the event loop until the tick's work time is spent (four more
// slices of three runs); a Pause that comes between slices stops them.
TEST_F(LogBufferTest, ATickMovesSlicesOfRunsFromTheEventLoopUntilItsTimeIsSpent) {
    auto readings = std::make_shared<int>(0);
    Log().TickClock = [readings] {
        return std::chrono::steady_clock::time_point(std::chrono::milliseconds(8 * (*readings)++));
    };
    for (int i = 0; i < 40; ++i) {
        Log().AppendLogLine(("line " + std::to_string(i)).c_str(),
                            i % 2 ? log::LogKind::Data : log::LogKind::Message, -1, 0);
    }
    Log().StopLogTimer();  // the ticks are the test's own
    Log().OnLogTimer();
    EXPECT_EQ(Form().Memo1->toPlainText().toStdString(), "line 0\nline 1\nline 2");
    QTextDocument* doc = Form().Memo1->document();
    EXPECT_TRUE(WaitFor([&] { return doc->blockCount() == 15; }));
    (void)WaitFor([] { return false; }, 50);
    EXPECT_EQ(doc->blockCount(), 15);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(Form().Memo1->ColourOfLine(i), i % 2 ? kBlack : kNavy) << i;
    }

    Log().OnLogTimer();  // the next tick: a slice now, then one from the loop, then Pause
    EXPECT_EQ(doc->blockCount(), 18);
    QTimer::singleShot(0, &Form(), [this] { Log().SetPaused(true); });
    EXPECT_TRUE(WaitFor([&] { return Log().Paused(); }));
    const int shown = doc->blockCount();
    (void)WaitFor([] { return false; }, 50);
    EXPECT_EQ(doc->blockCount(), shown);
    EXPECT_LT(shown, 40);
}

TEST_F(LogBufferTest, SizeMenusTrimAndCheckTogether) {
    Form().MMenuItemUnlimited->trigger();
    EXPECT_TRUE(Form().MenuItemUnlimited->isChecked());
    EXPECT_FALSE(Form().MMenuItem32KB->isChecked());
    FillLines(400, 98);
    EXPECT_EQ(Form().Memo1->TextLength(), 40000);
    Form().MenuItem2MB->trigger();  // from Unlimited to a cap above the text: nothing goes
    EXPECT_EQ(Form().Memo1->TextLength(), 40000);
    EXPECT_TRUE(Form().MMenuItem2MB->isChecked());
    Form().MenuItem32KB->trigger();
    EXPECT_LE(Form().Memo1->TextLength(), 32768);
    EXPECT_EQ(Form().Memo1->TextLength() % 100, 0);
    EXPECT_TRUE(Form().MMenuItem32KB->isChecked());
    EXPECT_FALSE(Form().MenuItem2MB->isChecked());
    const auto kept = Form().Memo1->TextLength();
    Form().MMenuItem128KB->trigger();
    EXPECT_EQ(Form().Memo1->TextLength(), kept);
    EXPECT_TRUE(Form().MenuItem128KB->isChecked());
}

TEST_F(LogBufferTest, DetailFromThePopupChecksBothMenus) {
    // The design default is High.
    EXPECT_TRUE(Form().MMenuItemHigh->isChecked());
    EXPECT_TRUE(Form().MenuHigh->isChecked());
    Form().MenuLow->trigger();
    EXPECT_EQ(Log().Detail, 0u);
    EXPECT_TRUE(Form().MMenuItemLow->isChecked());
    EXPECT_FALSE(Form().MMenuItemHigh->isChecked());
    EXPECT_FALSE(Form().MenuHigh->isChecked());
    Form().MMenuItemMedium->trigger();
    EXPECT_TRUE(Form().MenuMedium->isChecked());
    EXPECT_FALSE(Form().MenuLow->isChecked());
    // Any level above High shows as High.
    Form().CheckDetail(5);
    EXPECT_TRUE(Form().MenuHigh->isChecked());
    EXPECT_TRUE(Form().MMenuItemHigh->isChecked());
}

TEST_F(LogBufferTest, ClearEmptiesTheViewAndDropsWaitingLines) {
    FillLines(5, 10);
    Log().LogMessage("waiting");
    ASSERT_TRUE(Log().HasPending());
    Form().MMenuItemClear->trigger();
    EXPECT_EQ(Form().Memo1->TextLength(), 0);
    EXPECT_FALSE(Log().HasPending());
}

TEST_F(LogBufferTest, RelayedHttpRequestShowsEachRunInItsColour) {
    StartRelay();
    QTcpSocket client;
    client.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), LocalPort());
    ASSERT_TRUE(WaitFor([&] { return server_.hasPendingConnections(); }));
    std::unique_ptr<QTcpSocket> peer(server_.nextPendingConnection());
    client.write("GET / HTTP/1.0\r\nHost: example.org\r\nAccept: */*\r\n\r\n");
    const QString host = QStringLiteral("Host: 127.0.0.1:%1").arg(server_.serverPort());
    // Four runs: header, lines before the Host line, the Host line, the rest.
    ASSERT_TRUE(
        WaitFor([&] { return Form().Memo1->toPlainText().contains(QStringLiteral("Accept: */*")); },
                10000));
    const QTextDocument* doc = Form().Memo1->document();
    int hostLine = -1;
    int getLine = -1;
    for (int i = 0; i < doc->blockCount(); ++i) {
        const QString text = doc->findBlockByNumber(i).text();
        if (text == host)
            hostLine = i;
        if (text == QStringLiteral("GET / HTTP/1.0"))
            getLine = i;
    }
    ASSERT_GE(hostLine, 1);
    ASSERT_EQ(getLine, hostLine - 1);
    EXPECT_EQ(Form().Memo1->ColourOfLine(0), kNavy);            // "Local Port (...) opened"
    EXPECT_EQ(Form().Memo1->ColourOfLine(getLine - 1), kNavy);  // the block's header
    EXPECT_EQ(Form().Memo1->ColourOfLine(getLine), kBlack);
    EXPECT_EQ(Form().Memo1->ColourOfLine(hostLine), log::kPurple);
    EXPECT_EQ(Form().Memo1->ColourOfLine(hostLine + 1), kBlack);
}

TEST_F(LogBufferTest, FirstActivationWhileRunningScrollsToTheEnd) {
    // As with an automatic start: relaying and lines shown before the window is active.
    StartRelay();
    Log().BoundPending = false;
    FillLines(200, 20);
    QScrollBar* bar = Form().Memo1->verticalScrollBar();
    EXPECT_EQ(bar->value(), 0);
    EXPECT_FALSE(Form().Activated());
    ShowAndActivate();
    ASSERT_TRUE(WaitFor([&] { return bar->maximum() > 0 && bar->value() == bar->maximum(); }));
    EXPECT_TRUE(Form().Activated());

    // Later activations leave the view where the user put it.
    bar->setValue(0);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    Form().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&Form()));
    EXPECT_EQ(bar->value(), 0);
}

}  // namespace
}  // namespace corvane::ui::testing
