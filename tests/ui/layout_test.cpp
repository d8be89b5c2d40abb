// The window as designed: object names, captions, mnemonics, shortcuts, tags, hints,
// positions and sizes, so that a renamed or misplaced control is caught.
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QToolButton>
#include <algorithm>
#include <string_view>

#include "form_support.h"
#include "platform/winsock.h"
#include "ui/hints.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui::testing {
namespace {

using LayoutTest = FormTest;

TEST_F(LayoutTest, ButtonsAndBoxesSitWhereDesigned) {
    struct Expected {
        const char* name;
        QRect geometry;
    };
    const Expected widgets[] = {
        {"GroupBox1", {10, 10, 331, 121}},      {"EditRemoteHost", {15, 35, 140, 21}},
        {"EditRemotePort", {170, 35, 65, 21}},  {"EditLocalPort", {250, 35, 65, 21}},
        {"EditLogFile", {15, 80, 220, 21}},     {"ButtonBrowse", {240, 80, 75, 25}},
        {"ButtonStart", {360, 15, 75, 25}},     {"ButtonStop", {360, 45, 75, 25}},
        {"ButtonPause", {360, 75, 75, 25}},     {"ButtonResume", {360, 105, 75, 25}},
        {"LabelConns", {535, 15, 50, 13}},      {"LabelCSTrans", {535, 50, 50, 13}},
        {"LabelCSBuf", {535, 65, 50, 13}},      {"LabelSCTrans", {535, 100, 50, 13}},
        {"LabelSCBuf", {535, 115, 50, 13}},     {"SpeedButtonCut", {5, 3, 25, 25}},
        {"SpeedButtonCopy", {30, 3, 25, 25}},   {"SpeedButtonPaste", {55, 3, 25, 25}},
        {"SpeedButtonStart", {85, 3, 25, 25}},  {"SpeedButtonStop", {110, 3, 25, 25}},
        {"SpeedButtonPause", {135, 3, 25, 25}},
    };
    for (const Expected& e : widgets) {
        auto* w = Form().findChild<QWidget*>(QString::fromLatin1(e.name));
        ASSERT_NE(w, nullptr) << e.name;
        EXPECT_EQ(w->geometry(), e.geometry) << e.name;
    }
    for (QLabel* counter : {Form().LabelConns, Form().LabelCSTrans, Form().LabelCSBuf,
                            Form().LabelSCTrans, Form().LabelSCBuf}) {
        EXPECT_TRUE(counter->alignment() & Qt::AlignRight);
        EXPECT_EQ(counter->text().toStdString(), "0");
    }
    EXPECT_EQ(Form().Label5->pos(), QPoint(10, 140));
    EXPECT_EQ(Form().Label5->buddy(), Form().Memo1);
    EXPECT_EQ(Form().Label1->buddy(), Form().EditRemoteHost);
    EXPECT_EQ(Form().Label4->buddy(), Form().EditLogFile);
    EXPECT_EQ(Form().Panel2->height(), 31);
    EXPECT_EQ(Form().Panel3->height(), 155);
}

TEST_F(LayoutTest, ALongCountIsShownWholeClearOfItsCaption) {
    Form().show();
    QLabel* label = Form().LabelCSTrans;
    QLabel* caption = nullptr;  // "Transferred:" on the same row
    for (QLabel* l : Form().Panel3->findChildren<QLabel*>()) {
        if (l->objectName().isEmpty() && l->y() == label->y()) {
            caption = l;
        }
    }
    ASSERT_NE(caption, nullptr);
    const int captionEnd = caption->x() + caption->fontMetrics().horizontalAdvance(caption->text());
    // Up to 13 characters (past 2 GiB) there is room beside the caption; a longer count is
    // still shown whole, and may reach over it.
    for (const char* text : {"12,345,678", "2,147,483,648", "1,099,511,627,776"}) {
        Form().ShowCounter(relay::Counter::CSTransferred, text);
        EXPECT_EQ(label->text().toStdString(), text);
        const int width = label->fontMetrics().horizontalAdvance(label->text());
        EXPECT_GE(label->width(), width) << text << ": cut off";
        EXPECT_LE(label->geometry().right(), Form().Panel3->width()) << text;
        if (std::string_view(text).size() <= 13) {
            EXPECT_GT(label->geometry().right() + 1 - width, captionEnd) << text;
        }
        EXPECT_EQ(label->y(), 50);
    }
    // A short count puts the label back where it was designed.
    Form().ShowCounter(relay::Counter::CSTransferred, "0");
    EXPECT_EQ(label->geometry(), QRect(535, 50, 50, 13));
}

TEST_F(LayoutTest, LogBufferKeepsItsMarginsAtAnySize) {
    ShowAndActivate();
    for (QSize size : {QSize(630, 410), QSize(900, 700)}) {
        Form().resize(size);
        QTest::qWait(1);
        const QWidget* central = Form().centralWidget();
        // The view sits in a splitter with the hidden Connections pane.
        const QRect memo(Form().Memo1->mapTo(central, QPoint(0, 0)), Form().Memo1->size());
        EXPECT_EQ(memo.left(), 10);
        EXPECT_EQ(central->width() - memo.right() - 1, 10);
        EXPECT_EQ(central->height() - memo.bottom() - 1, 10);
        EXPECT_EQ(memo.top(), 31 + 155);
    }
}

// The hint panel takes what the other two leave: at least its designed 341 pixels, and all
// that a wider window adds, so that a long hint is not cut.
TEST_F(LayoutTest, StatusBarHasItsThreePanels) {
    ShowAndActivate();
    Form().resize(630, 410);
    QTest::qWait(1);
    const int designed = Form().StatusPanel[0]->width();
    EXPECT_GE(designed, 341);
    Form().resize(1230, 410);
    QTest::qWait(1);
    EXPECT_EQ(Form().StatusPanel[0]->width(), designed + 600);
    EXPECT_EQ(Form().StatusPanel[1]->width(), 88);
    EXPECT_EQ(Form().StatusPanel[2]->width(), 100);
    EXPECT_EQ(Form().statusBar()->height(), 19);
    EXPECT_EQ(Form().StatusPanel[2]->text().toStdString(), "Stopped");
    EXPECT_EQ(Form().windowTitle().toStdString(), "Corvane");
}

TEST_F(LayoutTest, MenuItemsCarryTheirCaptionsShortcutsTagsAndHints) {
    struct Expected {
        const char* name;
        const char* caption;
        int tag;
        QKeySequence shortcut;
        const char* hint;
    };
    const Expected items[] = {
        {"MenuItemExit", "E&xit", 0, {}, "Quits the application"},
        {"MenuItemUndo", "&Undo", 0, QKeySequence(Qt::CTRL | Qt::Key_Z),
         "Reverses the last action"},
        {"MenuItemCut", "Cu&t", 1, QKeySequence(Qt::CTRL | Qt::Key_X),
         "Cuts the selection and puts it on the Clipboard"},
        {"MenuItemCopy", "&Copy", 2, QKeySequence(Qt::CTRL | Qt::Key_C),
         "Copies the selection and puts it on the Clipboard"},
        {"MenuItemPaste", "&Paste", 3, QKeySequence(Qt::CTRL | Qt::Key_V),
         "Inserts Clipboard contents"},
        {"MenuItemSelectAll", "Select A&ll", 5, QKeySequence(Qt::CTRL | Qt::Key_A),
         "Selects the entire contents"},
        {"MenuItemStart", "&Start", 0, {}, "Open Local Port to allow connections"},
        {"MenuItemStop", "S&top", 0, {}, "Close Local Port and connections"},
        {"MenuItemPause", "&Pause", 0, {}, "Temporarily discontinue transferring data"},
        {"MenuItemResume", "&Resume", 0, {}, "Continue transferring data"},
        {"MenuItemReset", "R&eset", 0, {}, "Reset Transferred counts to 0"},
        {"MMenuItem32KB", "&32 KB", 32768, {}, ""},
        {"MMenuItemUnlimited", "&Unlimited", -1, {}, ""},
        {"MMenuItemHigh", "&High", 2, {}, ""},
        {"MMenuItemClear", "Cl&ear", 0, {}, "Clear contents of Log Buffer"},
        {"MenuItemHexOnly", "&Hex Only", 0, {}, "The data will only be displayed in Hex"},
        {"MenuItemContents",
         "&Contents",
         0,
         {},
         "Displays the table of contents for the online documentation"},
        {"MenuItemHomePage", "&Corvane Home Page", 0, {}, "Visit Corvane's home page"},
        {"MenuItemAbout", "&About...", 0, {}, "Display program information and version number "},
        {"MenuCopy", "&Copy", 0, QKeySequence(Qt::CTRL | Qt::Key_C),
         "Copies the selection and puts it on the Clipboard"},
        {"MenuSelectAll", "Select A&ll", 0, QKeySequence(Qt::CTRL | Qt::Key_A),
         "Selects the entire contents"},
        {"MenuItem2MB", "&2 MB", 2097152, {}, ""},
        {"MenuLow", "&Low", 0, {}, ""},
        {"MenuMedium", "&Medium", 1, {}, ""},
        {"MenuClear", "Cl&ear", 0, {}, "Clear contents of Log Buffer"},
    };
    for (const Expected& e : items) {
        auto* a = Form().findChild<QAction*>(QString::fromLatin1(e.name));
        ASSERT_NE(a, nullptr) << e.name;
        EXPECT_EQ(a->text().toStdString(), e.caption) << e.name;
        EXPECT_EQ(a->property("Tag").toInt(), e.tag) << e.name;
        EXPECT_EQ(a->shortcut(), e.shortcut) << e.name;
        EXPECT_EQ(HintOf(*a).toStdString(), e.hint) << e.name;
    }
    const QList<QAction*> top = Form().menuBar()->actions();
    // The designed menus, and View (the Connections pane) after Edit.
    const char* menus[] = {"&File", "&Edit", "&View", "&Action", "&Tools", "&Help"};
    ASSERT_EQ(top.size(), static_cast<int>(std::size(menus)));
    for (int i = 0; i < top.size(); ++i) {
        EXPECT_EQ(top[i]->text().toStdString(), menus[i]);
    }
    EXPECT_EQ(Form().MenuItemLogBuffer->title().toStdString(), "Log &Buffer");
    EXPECT_EQ(HintOf(*Form().MMenuItemDetail->menuAction()).toStdString(),
              "Type of messages to show in Log Buffer; all written to Log File");
}

TEST_F(LayoutTest, HintsSplitIntoTooltipAndStatusText) {
    EXPECT_EQ(Form().SpeedButtonCut->toolTip().toStdString(), "Cut");
    EXPECT_EQ(Form().SpeedButtonCut->property("Tag").toInt(), 1);
    EXPECT_EQ(Form().SpeedButtonPaste->property("Tag").toInt(), 3);
    EXPECT_EQ(Form().SpeedButtonStart->property("Tag").toInt(), 0);
    // Command buttons have no short part, so no tooltip; their long part goes to panel 0.
    EXPECT_TRUE(Form().ButtonStart->toolTip().isEmpty());
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(Form().ButtonStart, &enter);
    EXPECT_EQ(Form().StatusPanel[0]->text().toStdString(), "Open Local Port to allow connections");
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(Form().ButtonStart, &leave);
    EXPECT_EQ(Form().StatusPanel[0]->text().toStdString(), "");
    QApplication::sendEvent(Form().SpeedButtonStop, &enter);
    EXPECT_EQ(Form().StatusPanel[0]->text().toStdString(),
              "Close Local Port and disconnect from Client and Server");
}

TEST(Hints, ShortAndLongParts) {
    EXPECT_EQ(ShortHint(QStringLiteral("Cut|Cuts it")).toStdString(), "Cut");
    EXPECT_EQ(LongHint(QStringLiteral("Cut|Cuts it")).toStdString(), "Cuts it");
    EXPECT_EQ(ShortHint(QStringLiteral("|Only long")).toStdString(), "");
    EXPECT_EQ(LongHint(QStringLiteral("|Only long")).toStdString(), "Only long");
    EXPECT_EQ(LongHint(QStringLiteral("No bar")).toStdString(), "No bar");
    EXPECT_EQ(ShortHint(QStringLiteral("No bar")).toStdString(), "No bar");
    // Only the first bar splits.
    EXPECT_EQ(LongHint(QStringLiteral("a|b|c")).toStdString(), "b|c");
}

TEST(WindowSize, StoredSizeIsAppliedAndTheCloseSavesIt) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    {
        QSettings store(QStringLiteral("Halvard"), QStringLiteral("Corvane"));
        store.setValue(QStringLiteral("Width"), 700);
        store.setValue(QStringLiteral("Height"), 480);
    }
    TForm1 form;
    ASSERT_EQ(form.StartUp({}), control::StartupResult::Ready);
    EXPECT_EQ(form.size(), QSize(700, 480));
    form.show();
    form.resize(720, 500);
    form.close();
    QSettings store(QStringLiteral("Halvard"), QStringLiteral("Corvane"));
    EXPECT_EQ(store.value(QStringLiteral("Width")).toInt(), 720);
    EXPECT_EQ(store.value(QStringLiteral("Height")).toInt(), 500);
}

TEST(WindowSize, AFailedSocketStartSavesTheStoredSize) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    {
        QSettings store(QStringLiteral("Halvard"), QStringLiteral("Corvane"));
        store.setValue(QStringLiteral("Width"), 700);
        store.setValue(QStringLiteral("Height"), 480);
    }
    const auto box = AnswerMessageBox(QMessageBox::Ok);
    platform::SetStartupFailure(platform::WSASYSNOTREADY);
    {
        TForm1 form;
        EXPECT_EQ(form.StartUp({}), control::StartupResult::SocketsFailed);
    }
    platform::SetStartupFailure(0);
    CancelAnswers();
    EXPECT_TRUE(box->seen);
    QSettings store(QStringLiteral("Halvard"), QStringLiteral("Corvane"));
    EXPECT_EQ(store.value(QStringLiteral("Width")).toInt(), 700);
    EXPECT_EQ(store.value(QStringLiteral("Height")).toInt(), 480);
}

TEST(StartUp, UsageErrorLeavesTheWindowUnshownAndNothingStored) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    TForm1 form;
    EXPECT_EQ(form.StartUp({"host", "80"}), control::StartupResult::UsageError);
    EXPECT_FALSE(form.isVisible());
    // Reading may create the (empty) key, as it is opened with create semantics; no value is
    // written.
    QSettings store(QStringLiteral("Halvard"), QStringLiteral("Corvane"));
    EXPECT_TRUE(store.allKeys().isEmpty());
}

TEST(StartUp, CommandLineFillsTheBoxesAndChecks) {
    QTemporaryDir dir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    TForm1 form;
    ASSERT_EQ(form.StartUp({"example.org", "80", "8080", "-size", "Unlimited", "-detail", "Low",
                            "-hexonly"}),
              control::StartupResult::Ready);
    EXPECT_EQ(form.EditRemoteHost->text().toStdString(), "example.org");
    EXPECT_EQ(form.EditRemotePort->text().toStdString(), "80");
    EXPECT_EQ(form.EditLocalPort->text().toStdString(), "8080");
    EXPECT_TRUE(form.MMenuItemUnlimited->isChecked());
    EXPECT_TRUE(form.MenuItemUnlimited->isChecked());
    EXPECT_TRUE(form.MMenuItemLow->isChecked());
    EXPECT_TRUE(form.MenuLow->isChecked());
    EXPECT_TRUE(form.MenuItemHexOnly->isChecked());
}

}  // namespace
}  // namespace corvane::ui::testing
