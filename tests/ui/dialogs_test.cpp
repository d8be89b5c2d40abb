// The window's dialogs: Browse (opened on the current name, cancelled, confirmed, a read-only
// file refused), the about box, the help viewer on its contents, the home page.
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <QUrl>

#include "form_support.h"
#include "ui/about_box.h"
#include "ui/browse_dialog.h"
#include "ui/help_viewer.h"
#include "ui/home_page.h"

namespace corvane::ui::testing {
namespace {

using DialogsTest = FormTest;

TEST_F(DialogsTest, BrowseOpensOnTheCurrentNameAndCancelChangesNothing) {
    ShowAndActivate();
    const QString name = workDir_.filePath(QStringLiteral("trace.htm"));
    Form().EditLogFile->setText(name);
    Form().ButtonStart->setFocus();
    QString title, chosen, suffix;
    QStringList filters;
    AnswerModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TBrowseDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        title = dialog->windowTitle();
        chosen = dialog->ChosenFile();
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        EXPECT_EQ(dialog->selectedNameFilter(), filters.value(0));
        dialog->reject();
    });
    Form().ButtonBrowse->click();
    EXPECT_EQ(title.toStdString(), "Browse");
    EXPECT_EQ(chosen, name);
    ASSERT_EQ(filters.size(), 3);
    EXPECT_TRUE(filters[0].startsWith(QStringLiteral("Web Pages")));
    EXPECT_TRUE(filters[1].startsWith(QStringLiteral("Text Files")));
    EXPECT_TRUE(filters[2].startsWith(QStringLiteral("All Files")));
    EXPECT_EQ(suffix.toStdString(), "txt");
    EXPECT_EQ(Form().EditLogFile->text(), name);
    EXPECT_EQ(Form().focusWidget(), Form().EditLogFile);
    // Browsing creates nothing.
    EXPECT_FALSE(QFile::exists(name));
}

TEST_F(DialogsTest, BrowseConfirmedTakesTheNameWithTheDefaultSuffix) {
    ShowAndActivate();
    Form().EditLogFile->setText(workDir_.filePath(QStringLiteral("old.htm")));
    AnswerModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TBrowseDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(QStringLiteral("capture"));
        dialog->accept();
    });
    Form().ButtonBrowse->click();
    EXPECT_EQ(Form().EditLogFile->text(), workDir_.filePath(QStringLiteral("capture.txt")));
}

TEST_F(DialogsTest, BrowseRefusesAReadOnlyFile) {
    ShowAndActivate();
    const QString locked = workDir_.filePath(QStringLiteral("locked.txt"));
    {
        QFile file(locked);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    ASSERT_TRUE(QFile::setPermissions(locked, QFile::ReadOwner | QFile::ReadUser));
    Form().EditLogFile->setText(workDir_.filePath(QStringLiteral("before.txt")));
    bool refused = false;
    bool stillOpen = false;
    AnswerModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<TBrowseDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(QStringLiteral("locked.txt"));
        // The refusal is a message box over the dialog; answer it, then give up.
        AnswerModal([&, dialog](QWidget* box) {
            refused = qobject_cast<QMessageBox*>(box) != nullptr;
            box->close();
            QTimer::singleShot(0, dialog, [&, dialog] {
                stillOpen = dialog->isVisible();
                dialog->reject();
            });
        });
        dialog->accept();
    });
    Form().ButtonBrowse->click();
    EXPECT_TRUE(refused);
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(Form().EditLogFile->text(), workDir_.filePath(QStringLiteral("before.txt")));
}

TEST_F(DialogsTest, AboutBoxShowsItsLinesAndCloses) {
    ShowAndActivate();
    QString caption, name, version, publisher, address, fullAddress;
    QRect addressPlace;
    QSize size;
    QRect close;
    bool isDefault = false;
    AnswerModal([&](QWidget* modal) {
        auto* box = qobject_cast<TAboutBox*>(modal);
        ASSERT_NE(box, nullptr);
        caption = box->windowTitle();
        size = box->size();
        name = box->Label1->text();
        version = box->Label2->text();
        publisher = box->Label3->text();
        address = box->Label4->text();
        fullAddress = box->Label4->toolTip();
        addressPlace = box->Label4->geometry();
        close = box->OKButton->geometry();
        isDefault = box->OKButton->isDefault();
        EXPECT_FALSE(box->Image1->pixmap().isNull());
        EXPECT_EQ(box->Image1->geometry(), QRect(10, 10, 64, 64));
        box->OKButton->click();
    });
    Form().MenuItemAbout->trigger();
    EXPECT_EQ(caption.toStdString(), "About Corvane");
    EXPECT_EQ(size, QSize(285, 177));
    EXPECT_EQ(name.toStdString(), "Corvane");
    EXPECT_EQ(version.toStdString(), "Version 2.80");
    EXPECT_EQ(publisher.toStdString(), "Halvard Software");
    // The address stays on the box: its middle gives way, the whole of it is the tooltip.
    EXPECT_EQ(fullAddress, HomePageUrl().toString());
    EXPECT_TRUE(address.startsWith(QStringLiteral("file:///")));
    EXPECT_TRUE(address.endsWith(QStringLiteral("CORVANE.HLP")));
    EXPECT_LE(addressPlace.right(), 275);
    EXPECT_EQ(close, QRect(206, 150, 75, 25));
    EXPECT_TRUE(isDefault);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(DialogsTest, ContentsOpensTheHelpFileOnItsTableOfContents) {
    ASSERT_FALSE(FindHelpFile().isEmpty()) << "CORVANE.HLP beside the test program";
    ShowAndActivate();
    Form().MenuItemContents->trigger();
    auto* viewer = Form().findChild<THelpViewer*>();
    ASSERT_NE(viewer, nullptr);
    EXPECT_TRUE(viewer->isVisible());
    const QUrl source = viewer->Browser()->source();
    EXPECT_TRUE(source.path().endsWith(QStringLiteral("CORVANE.HLP")));
    EXPECT_EQ(source.fragment().toStdString(), kContentsAnchor);
    const QString text = viewer->Browser()->toPlainText();
    for (const char* topic :
         {"The parameters", "The Log Buffer and its menus", "-hexonly", "The Log File", "Pause"}) {
        EXPECT_TRUE(text.contains(QString::fromLatin1(topic))) << topic;
    }
    // A second Contents reuses the viewer.
    viewer->close();
    Form().MenuItemContents->trigger();
    EXPECT_EQ(Form().findChildren<THelpViewer*>().size(), 1);
    EXPECT_TRUE(viewer->isVisible());
    viewer->close();
}

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void Open(const QUrl& url) { opened.append(url); }
};

TEST_F(DialogsTest, HomePageOpensTheInstalledHelpOnce) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "Open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "Open");
    Form().MenuItemHomePage->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    ASSERT_EQ(catcher.opened.size(), 1);
    const QUrl opened = catcher.opened[0];
    EXPECT_TRUE(opened.isLocalFile()) << opened.toString().toStdString();
    EXPECT_TRUE(QFileInfo(opened.toLocalFile()).isFile()) << opened.toString().toStdString();
    EXPECT_EQ(opened, QUrl::fromLocalFile(FindHelpFile()));
}

}  // namespace
}  // namespace corvane::ui::testing

#include "dialogs_test.moc"
