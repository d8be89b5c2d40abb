// The edit commands by focus: the edit boxes (editable and read-only), the Log Buffer, a
// button; the Log Buffer's context menu and its enabling.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>

#include "form_support.h"
#include "log/log_kind.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui::testing {
namespace {

struct EditStates {
    bool undo, cut, copy, paste, selectAll;
};

void ExpectEditStates(TForm1& f, EditStates s) {
    f.UpdateEditCommands();
    EXPECT_EQ(f.MenuItemUndo->isEnabled(), s.undo);
    EXPECT_EQ(f.MenuItemCut->isEnabled(), s.cut);
    EXPECT_EQ(f.MenuItemCopy->isEnabled(), s.copy);
    EXPECT_EQ(f.MenuItemPaste->isEnabled(), s.paste);
    EXPECT_EQ(f.MenuItemSelectAll->isEnabled(), s.selectAll);
    EXPECT_EQ(f.SpeedButtonCut->isEnabled(), s.cut);
    EXPECT_EQ(f.SpeedButtonCopy->isEnabled(), s.copy);
    EXPECT_EQ(f.SpeedButtonPaste->isEnabled(), s.paste);
}

class EditCommandsTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        ShowAndActivate();
        QApplication::clipboard()->setText(QStringLiteral("clip"));
    }
    void PutLines() {
        Form().Memo1->AppendRun("first line\r\nsecond line\r\n", log::ColourOf(log::LogKind::Data));
    }
};

TEST_F(EditCommandsTest, CtrlXCutsFromAnEditableBox) {
    QLineEdit* edit = Form().EditRemoteHost;
    edit->setText(QStringLiteral("example.org"));
    edit->setFocus();
    edit->setSelection(0, 8);
    ExpectEditStates(Form(), {false, true, true, true, true});
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(edit->text().toStdString(), "org");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "example.");
    // Undo is now possible, and Select All with nothing selected.
    ExpectEditStates(Form(), {true, false, false, true, true});
    Form().MenuItemUndo->trigger();
    EXPECT_EQ(edit->text().toStdString(), "example.org");
}

TEST_F(EditCommandsTest, ReadOnlyBoxWhileRunningCopiesButNeverCuts) {
    StartRelay();
    QLineEdit* edit = Form().EditRemoteHost;
    edit->setFocus();
    edit->setSelection(0, 4);
    ExpectEditStates(Form(), {edit->isUndoAvailable(), false, true, false, true});
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(edit->text().toStdString(), "127.0.0.1");
    // The commands themselves refuse as well, whatever their enabling.
    Form().RunEditCommand(1);
    Form().RunEditCommand(3);
    Form().RunEditCommand(4);
    Form().RunEditCommand(0);
    EXPECT_EQ(edit->text().toStdString(), "127.0.0.1");
    Form().RunEditCommand(2);
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "127.");
}

TEST_F(EditCommandsTest, EditMenuAndSpeedButtonsActOnTheFocusedBox) {
    QLineEdit* edit = Form().EditLogFile;
    edit->setText(QStringLiteral("trace.txt"));
    edit->setFocus();
    Form().MenuItemSelectAll->trigger();
    EXPECT_EQ(edit->selectedText().toStdString(), "trace.txt");
    ExpectEditStates(Form(), {false, true, true, true, false});
    Form().SpeedButtonCopy->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "trace.txt");
    edit->setSelection(0, 5);
    Form().SpeedButtonPaste->click();
    EXPECT_EQ(edit->text().toStdString(), "trace.txt.txt");
    edit->setSelection(0, 6);
    Form().SpeedButtonCut->click();
    EXPECT_EQ(edit->text().toStdString(), "txt.txt");
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "trace.");
}

TEST_F(EditCommandsTest, LogBufferAllowsOnlyCopyAndSelectAll) {
    PutLines();
    Form().Memo1->setFocus();
    ExpectEditStates(Form(), {false, false, false, false, true});
    Form().MenuItemSelectAll->trigger();
    EXPECT_TRUE(Form().Memo1->HasSelection());
    ExpectEditStates(Form(), {false, false, true, false, false});
    Form().MenuItemCopy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "first line\nsecond line");
}

TEST_F(EditCommandsTest, ButtonFocusDisablesAllFive) {
    PutLines();
    Form().ButtonStart->setFocus();
    ExpectEditStates(Form(), {false, false, false, false, false});
}

TEST_F(EditCommandsTest, IdleTimeKeepsTheEnablingInStep) {
    Form().ButtonBrowse->setFocus();
    Form().UpdateEditCommands();
    ASSERT_FALSE(Form().MenuItemCut->isEnabled());
    QLineEdit* edit = Form().EditRemotePort;
    edit->setFocus();
    edit->setText(QStringLiteral("80"));
    edit->selectAll();
    // The idle handler runs when the event loop has emptied its queue.
    ASSERT_TRUE(RunLoopUntil([&] { return Form().MenuItemCut->isEnabled(); }));
    Form().ButtonBrowse->setFocus();
    ASSERT_TRUE(RunLoopUntil([&] { return !Form().MenuItemCut->isEnabled(); }));
}

class PopupTest : public EditCommandsTest {
protected:
    void OpenPopup() {
        const QPoint at(20, 20);
        QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                                Form().Memo1->viewport()->mapToGlobal(at));
        QApplication::sendEvent(Form().Memo1->viewport(), &event);
        ASSERT_TRUE(WaitFor([&] { return Form().PopupMenu1->isVisible(); }));
    }
    void TearDown() override {
        Form().PopupMenu1->close();
        EditCommandsTest::TearDown();
    }
};

TEST_F(PopupTest, EmptyViewOffersOnlyClear) {
    OpenPopup();
    EXPECT_FALSE(Form().MenuCopy->isEnabled());
    EXPECT_FALSE(Form().MenuSelectAll->isEnabled());
    EXPECT_TRUE(Form().MenuClear->isEnabled());
    EXPECT_TRUE(Form().MenuSize->menuAction()->isEnabled());
    EXPECT_TRUE(Form().MenuDetail->menuAction()->isEnabled());
}

TEST_F(PopupTest, TextAndSelectionEnableCopyAndSelectAll) {
    PutLines();
    OpenPopup();
    EXPECT_FALSE(Form().MenuCopy->isEnabled());
    EXPECT_TRUE(Form().MenuSelectAll->isEnabled());
    Form().PopupMenu1->close();
    Form().MenuSelectAll->trigger();
    OpenPopup();
    EXPECT_TRUE(Form().MenuCopy->isEnabled());
    Form().MenuCopy->trigger();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), "first line\nsecond line");
    Form().MenuClear->trigger();
    EXPECT_EQ(Form().Memo1->TextLength(), 0);
    EXPECT_EQ(Form().Memo1->toPlainText().toStdString(), "");
}

TEST_F(PopupTest, MenuItemHintsReachPanelZero) {
    OpenPopup();
    Form().PopupMenu1->setActiveAction(Form().MenuClear);
    EXPECT_EQ(Form().StatusPanel[0]->text().toStdString(), "Clear contents of Log Buffer");
    Form().PopupMenu1->close();
    EXPECT_EQ(Form().StatusPanel[0]->text().toStdString(), "");
}

}  // namespace
}  // namespace corvane::ui::testing
