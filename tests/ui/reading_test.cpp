// Reading the log in the window: the Options dialog and Time Stamps, the find bar, and the
// view that holds still while the user reads.
#include <QAbstractSlider>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTextBlock>
#include <functional>
#include <string>

#include "form_support.h"
#include "log/traffic_log.h"
#include "platform/settings_store.h"
#include "ui/find_bar.h"
#include "ui/log_buffer_view.h"
#include "ui/options_dialog.h"

namespace corvane::ui::testing {
namespace {

class ReadingTest : public FormTest {
protected:
    log::TrafficLog& Log() { return Form().Control().Log(); }
    TLogBufferView& View() { return *Form().Memo1; }
    // One line, moved into the view at once: one insertion.
    void Insert(const std::string& line) {
        Log().LogMessage(line.c_str());
        while (Log().FlushLogRun()) {
        }
    }
    void InsertNumbered(int first, int count) {
        for (int i = first; i < first + count; ++i) {
            Insert("line " + std::to_string(i));
        }
    }
    // Answers the Options dialog: sets Time Stamps, then OK or Cancel; records what it saw.
    void AnswerOptions(bool timeStamps, QDialogButtonBox::StandardButton button) {
        AnswerModal([this, timeStamps, button](QWidget* modal) {
            auto* dialog = qobject_cast<TOptionsDialog*>(modal);
            if (dialog == nullptr) {
                modal->close();
                return;
            }
            seenEnabled_ = dialog->CheckBoxTimeStamps->isEnabled();
            seenNote_ = dialog->LabelNote->isVisible();
            dialog->CheckBoxTimeStamps->setChecked(timeStamps);
            dialog->Buttons->button(button)->click();
        });
    }
    std::string TopLine() {
        return View().cursorForPosition(QPoint(0, 0)).block().text().toStdString();
    }

    bool seenEnabled_ = false;
    bool seenNote_ = true;
};

TEST_F(ReadingTest, OptionsOkAppliesTimeStampsAtOnceAndTheCloseSavesThem) {
    StartRelay();  // Time Stamps may change while relaying
    AnswerOptions(true, QDialogButtonBox::Cancel);
    Form().MenuItemOptions->trigger();
    EXPECT_FALSE(Form().Control().TimeStamps()) << "Cancel changes nothing";

    AnswerOptions(true, QDialogButtonBox::Ok);
    Form().MenuItemOptions->trigger();
    EXPECT_TRUE(seenEnabled_) << "not greyed while relaying";
    EXPECT_TRUE(seenNote_) << "the network and capture rows are greyed while relaying";
    ASSERT_TRUE(Form().Control().TimeStamps());
    Insert("Waiting for connections");
    const QString last = View().document()->lastBlock().text();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d Waiting for "
                                                  "connections$"))
                    .match(last)
                    .hasMatch())
        << last.toStdString();

    Form().Control().Stop();
    Form().close();
    platform::SettingsKey key;
    std::uint32_t stored = 0;
    ASSERT_TRUE(key.QueryDword("Time Stamps", stored));
    EXPECT_EQ(stored, 1u);
}

TEST_F(ReadingTest, FindWrapsAndFindsInBothDirections) {
    ShowAndActivate();
    for (const char* line : {"alpha", "beta MATCH", "gamma", "match delta", "epsilon"}) {
        Insert(line);
    }
    const int viewHeight = View().height();
    QTest::keyClick(&Form(), Qt::Key_F, Qt::ControlModifier);
    TFindBar& bar = *Form().FindBar;
    ASSERT_TRUE(bar.isVisible());
    ASSERT_TRUE(WaitFor([&] { return View().height() < viewHeight; }));
    EXPECT_TRUE(bar.EditFind->hasFocus());
    QTest::keyClicks(bar.EditFind, QStringLiteral("match"));

    const QString wrappedTop = QString::fromLatin1(kFindWrappedToTop);
    const QString wrappedEnd = QString::fromLatin1(kFindWrappedToEnd);
    struct Step {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        bool matchCase;
        int line;  // of the selected match
        QString status;
    };
    // The caret starts at the end of the log.
    const Step steps[] = {
        {Qt::Key_Return, Qt::NoModifier, false, 1, wrappedTop},
        {Qt::Key_F3, Qt::NoModifier, false, 3, QString()},
        {Qt::Key_F3, Qt::NoModifier, false, 1, wrappedTop},
        {Qt::Key_F3, Qt::ShiftModifier, false, 3, wrappedEnd},
        {Qt::Key_F3, Qt::ShiftModifier, false, 1, QString()},
        {Qt::Key_F3, Qt::NoModifier, true, 3, QString()},
        {Qt::Key_F3, Qt::NoModifier, true, 3, wrappedTop},
    };
    for (const Step& step : steps) {
        bar.CheckBoxMatchCase->setChecked(step.matchCase);
        QTest::keyClick(bar.EditFind, step.key, step.modifiers);
        const QTextCursor selection = View().textCursor();
        EXPECT_EQ(selection.selectedText().compare(QStringLiteral("match"), Qt::CaseInsensitive),
                  0);
        EXPECT_EQ(selection.block().blockNumber(), step.line);
        EXPECT_EQ(bar.LabelFindStatus->text(), step.status);
        EXPECT_LE(bar.minimumSizeHint().width(), control::kDesignWidth)
            << "the bar fits the design width";
    }
    EXPECT_FALSE(Form().Control().Running()) << "Enter in the find bar does not press Start";

    const int selectedAt = View().textCursor().selectionStart();
    bar.EditFind->setText(QStringLiteral("zeta"));
    QTest::keyClick(bar.EditFind, Qt::Key_F3);
    EXPECT_EQ(bar.LabelFindStatus->text(), QString::fromLatin1(kFindNotFound));
    EXPECT_EQ(View().textCursor().selectionStart(), selectedAt);

    QTest::keyClick(bar.EditFind, Qt::Key_Escape);
    EXPECT_FALSE(bar.isVisible());
    EXPECT_TRUE(WaitFor([&] { return View().height() == viewHeight; }));
}

TEST_F(ReadingTest, ASelectionSurvivesInsertionsUntilTheViewIsBackAtItsEnd) {
    ShowAndActivate();
    QScrollBar* scroll = View().verticalScrollBar();
    const std::function<void()> backToEnd[] = {
        [&] { scroll->triggerAction(QAbstractSlider::SliderToMaximum); },
        [&] { QTest::keyClick(&View(), Qt::Key_End, Qt::ControlModifier); },
    };
    for (const auto& back : backToEnd) {
        Log().ClearLogBuffer();
        InsertNumbered(0, 100);
        ASSERT_EQ(scroll->value(), scroll->maximum());
        View().setFocus();
        QTest::keyClick(&View(), Qt::Key_Home, Qt::ControlModifier);
        QTest::keyClick(&View(), Qt::Key_Down, Qt::ShiftModifier);
        QTest::keyClick(&View(), Qt::Key_Down, Qt::ShiftModifier);
        const QString selected = View().textCursor().selectedText();
        ASSERT_FALSE(selected.isEmpty());
        const int scrolled = scroll->value();
        ASSERT_LT(scrolled, scroll->maximum());

        InsertNumbered(100, 50);
        EXPECT_EQ(View().textCursor().selectedText(), selected);
        EXPECT_EQ(View().textCursor().selectionStart(), 0);
        EXPECT_EQ(scroll->value(), scrolled);

        back();
        Insert("after");
        EXPECT_FALSE(View().HasSelection());
        EXPECT_EQ(View().textCursor().position(), View().DocumentLength());
        EXPECT_EQ(scroll->value(), scroll->maximum());
    }
}

TEST_F(ReadingTest, AScrolledUpViewKeepsItsLinesUntilTrimmingReachesThem) {
    ShowAndActivate();
    Log().BoundPending = false;
    // 300 lines of 100 characters under the 32 KB cap.
    const auto line = [](int i) {
        std::string text = "line " + std::to_string(i) + " ";
        return text + std::string(98 - text.size(), '.');
    };
    for (int i = 0; i < 300; ++i) {
        Insert(line(i));
    }
    QScrollBar* scroll = View().verticalScrollBar();
    scroll->triggerAction(QAbstractSlider::SliderToMinimum);
    for (int i = 0; i < 40; ++i) {
        scroll->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    }
    const std::string top = TopLine();
    ASSERT_EQ(top, line(40));

    // 30 more lines: the first 3 are trimmed; the lines on screen stay on screen.
    for (int i = 300; i < 330; ++i) {
        Insert(line(i));
    }
    ASSERT_FALSE(View().document()->firstBlock().text().startsWith(QStringLiteral("line 0 ")));
    EXPECT_EQ(TopLine(), top);
    EXPECT_LT(scroll->value(), scroll->maximum());

    // Once the lines on screen are trimmed, the view shows the new first line.
    for (int i = 330; i < 400; ++i) {
        Insert(line(i));
    }
    EXPECT_EQ(TopLine(), View().document()->firstBlock().text().toStdString());
    EXPECT_EQ(scroll->value(), 0);
}

}  // namespace
}  // namespace corvane::ui::testing
