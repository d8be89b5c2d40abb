// The Connections pane on the real window relaying on 127.0.0.1: its rows and filter, the
// Log Buffer shown for selected Connections only (by the Connection, not its number), Close
// and Reset from the pane, the Follow window's text and hex, Save of a download, and the
// pane's place kept with the settings.
#include <QClipboard>
#include <QCryptographicHash>
#include <QFile>
#include <QFileDialog>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSplitter>
#include <QTcpSocket>
#include <QTest>
#include <QToolButton>

#include "form_support.h"
#include "ui/connection_model.h"
#include "ui/connections_pane.h"
#include "ui/follow_window.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui::testing {
namespace {

class ConnectionsPaneTest : public FormTest {
protected:
    // A Client through the relay and the Server's end of it.
    struct Pair {
        std::unique_ptr<QTcpSocket> client;
        std::unique_ptr<QTcpSocket> server;
    };
    Pair Connect() {
        Pair pair{std::make_unique<QTcpSocket>(), nullptr};
        pair.client->connectToHost(QHostAddress(QStringLiteral("127.0.0.1")), LocalPort());
        EXPECT_TRUE(WaitFor([&] { return server_.hasPendingConnections(); }));
        pair.server.reset(server_.nextPendingConnection());
        return pair;
    }
    TConnectionsPane& Pane() { return *Form().ConnectionsPane; }
    // The model row (newest first) whose text in a column is given, as it is now.
    QString Cell(int row, int column) {
        return Pane().Model().index(row, column).data().toString();
    }
    bool RowsAre(int rows) { return Pane().Model().rowCount() == rows; }
    void SelectRow(int viewRow) {
        Pane().Table->setFocus();
        Pane().Table->selectRow(viewRow);
    }
    void StartWithPane() {
        Form().MenuItemConnections->trigger();
        StartRelay();
    }
};

TEST_F(ConnectionsPaneTest, HiddenUntilAskedThenListsEachConnectionWithItsState) {
    EXPECT_TRUE(Form().ConnectionsPane->isHidden());
    EXPECT_EQ(Form().LogSplitter->sizes().value(1), 0);
    ShowAndActivate();
    Form().SpeedButtonConnections->click();
    EXPECT_TRUE(Form().ConnectionsPane->isVisible());
    EXPECT_TRUE(Form().MenuItemConnections->isChecked());
    StartRelay();

    Pair first = Connect();
    Pair second = Connect();
    first.client->write("ping\r\n");
    second.server->write("pong pong\r\n");
    ASSERT_TRUE(WaitFor([&] {
        return RowsAre(2) && Cell(1, kColumnClientToServer) == QStringLiteral("6") &&
               Cell(0, kColumnServerToClient) == QStringLiteral("11");
    }));
    EXPECT_EQ(Cell(0, kColumnState), QStringLiteral("Open"));
    EXPECT_EQ(Cell(1, kColumnClient),
              QStringLiteral("127.0.0.1:%1").arg(first.client->localPort()));
    EXPECT_EQ(Cell(1, kColumnServer), QStringLiteral("127.0.0.1:%1").arg(server_.serverPort()));
    EXPECT_TRUE(Cell(0, kColumnTls).isEmpty());

    first.client->close();
    ASSERT_TRUE(WaitFor([&] { return Cell(1, kColumnState) == QStringLiteral("Closed"); }));
    EXPECT_EQ(Pane().LabelCounts->text(), QStringLiteral("2 of 2 shown"));
    // The filter box: a state, an address, a number.
    const struct {
        QString text;
        int shown;
    } filters[] = {{QStringLiteral("closed"), 1},
                   {QStringLiteral(":%1").arg(second.client->localPort()), 1},
                   {Cell(0, kColumnNumber), 1},
                   {QStringLiteral("10.9.9.9"), 0},
                   {QString(), 2}};
    for (const auto& f : filters) {
        Pane().EditFilter->setText(f.text);
        EXPECT_EQ(Pane().Filter().rowCount(), f.shown) << f.text.toStdString();
    }
    // Clear takes the ended row, Start every row.
    Form().MMenuItemClear->trigger();
    EXPECT_TRUE(RowsAre(1));
    Form().ButtonStop->click();
    StartRelay();
    EXPECT_TRUE(RowsAre(0));
}

TEST_F(ConnectionsPaneTest, EndedRowsAreBoundedAndTheRestCounted) {
    TConnectionModel& model = Pane().Model();
    std::vector<relay::ConnectionRow> rows(TConnectionModel::kMaxEndedRows + 5);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i].serial = i + 1;
        rows[i].number = static_cast<int>(i % 7) + 4;
        rows[i].state = relay::ConnectionState::Closed;
    }
    model.ShowConnections({rows, {}});
    EXPECT_EQ(model.rowCount(), static_cast<int>(TConnectionModel::kMaxEndedRows));
    EXPECT_EQ(model.index(0, 0).data(kSerialRole).toULongLong(), rows.size());
    EXPECT_EQ(Pane().LabelOlder->text(), QStringLiteral("5 older Connections not listed"));
}

TEST_F(ConnectionsPaneTest, ShowOnlySelectedFollowsTheConnectionNotItsNumber) {
    StartWithPane();
    Pair earlier = Connect();
    earlier.client->write("from the earlier one\r\n");
    ASSERT_TRUE(WaitFor(
        [&] { return RowsAre(1) && Cell(0, kColumnClientToServer) == QLatin1String("22"); }));
    earlier.client->close();
    ASSERT_TRUE(WaitFor([&] { return Cell(0, kColumnState) == QStringLiteral("Closed"); }));
    Pair later = Connect();
    later.client->write("from the later one\r\n");
    ASSERT_TRUE(WaitFor(
        [&] { return RowsAre(2) && Cell(0, kColumnClientToServer) == QLatin1String("20"); }));
    // The closed socket's number came back for the later Connection.
    ASSERT_EQ(Cell(0, kColumnNumber), Cell(1, kColumnNumber));

    SelectRow(0);
    QTest::keyClick(Pane().Table, Qt::Key_Return);
    ASSERT_TRUE(Form().Memo1->Filtering());
    Pair other = Connect();
    other.client->write("from another\r\n");
    later.client->write("more from the later one\r\n");
    ASSERT_TRUE(WaitFor(
        [&] { return Form().Memo1->ShownText().contains(QStringLiteral("more from the later")); }));
    ASSERT_TRUE(WaitFor(
        [&] { return Form().Memo1->toPlainText().contains(QStringLiteral("from another")); }));
    QString shown = Form().Memo1->ShownText();
    EXPECT_TRUE(shown.contains(QStringLiteral("from the later one")));
    EXPECT_FALSE(shown.contains(QStringLiteral("from the earlier one")));
    EXPECT_FALSE(shown.contains(QStringLiteral("from another")));
    EXPECT_TRUE(shown.contains(QStringLiteral("opened")));  // the relay's own lines stay

    QTest::keyClick(Pane().Table, Qt::Key_Escape);
    EXPECT_FALSE(Form().Memo1->Filtering());
    EXPECT_TRUE(Form().Memo1->ShownText().contains(QStringLiteral("from the earlier one")));
}

TEST_F(ConnectionsPaneTest, CloseAndResetFromThePane) {
    StartWithPane();
    Pair closing = Connect();
    Pair resetting = Connect();
    ASSERT_TRUE(
        WaitFor([&] { return RowsAre(2) && Cell(0, kColumnState) == QLatin1String("Open"); }));
    const QString closingNumber = Cell(1, kColumnNumber);
    const QString resettingNumber = Cell(0, kColumnNumber);

    closing.server->write("last words\r\n");
    ASSERT_TRUE(WaitFor([&] { return Cell(1, kColumnServerToClient) == QLatin1String("12"); }));
    SelectRow(1);
    QTest::keyClick(Pane().Table, Qt::Key_Delete);
    SelectRow(0);
    QTest::keyClick(Pane().Table, Qt::Key_Delete, Qt::ShiftModifier);
    ASSERT_TRUE(WaitFor([&] {
        return Cell(1, kColumnState) == QStringLiteral("Closed") &&
               Cell(0, kColumnState) == QStringLiteral("Reset");
    }));
    ASSERT_TRUE(
        WaitFor([&] { return closing.client->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(closing.client->readAll(), QByteArray("last words\r\n"));
    const QString log = Form().Memo1->toPlainText();
    EXPECT_TRUE(log.contains(closingNumber + QStringLiteral(": Closed by user")));
    EXPECT_TRUE(log.contains(resettingNumber + QStringLiteral(": Reset by user")));
    ASSERT_TRUE(
        WaitFor([&] { return resetting.client->state() == QAbstractSocket::UnconnectedState; }));
    EXPECT_EQ(resetting.client->error(), QAbstractSocket::RemoteHostClosedError);

    // Copy puts the rows on the clipboard as text.
    Pane().Table->selectAll();
    QTest::keyClick(Pane().Table, Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QGuiApplication::clipboard()->text().split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("No.\tClient\tServer\tState")));
    EXPECT_TRUE(lines[1].startsWith(resettingNumber + QLatin1Char('\t')));
}

TEST_F(ConnectionsPaneTest, FollowShowsWhatWasPassedOnAsTextAndHex) {
    StartWithPane();
    Pair pair = Connect();
    pair.client->write("GET / HTTP/1.0\r\nHost: example.org\r\n\r\n");
    // The answer after the request, as a Server gives it.
    QByteArray request;
    ASSERT_TRUE(WaitFor([&] {
        request += pair.server->readAll();
        return request.endsWith("\r\n\r\n");
    }));
    pair.server->write("HTTP/1.0 200 OK\r\n\r\nhello\r\n");
    ASSERT_TRUE(WaitFor(
        [&] { return RowsAre(1) && Cell(0, kColumnServerToClient) == QLatin1String("26"); }));
    // Were the bytes not kept, a box would say why.
    const std::shared_ptr<BoxSeen> box = AnswerMessageBox(QMessageBox::Ok);
    TFollowWindow* follow =
        Form().FollowConnection(Pane().Model().index(0, 0).data(kSerialRole).toULongLong());
    ASSERT_NE(follow, nullptr) << box->text.toStdString();
    const QString host = QStringLiteral("Host: 127.0.0.1:%1\n").arg(server_.serverPort());
    ASSERT_TRUE(WaitFor([&] { return follow->ShownText().contains(QStringLiteral("hello")); }));
    const QString text = follow->ShownText();
    EXPECT_TRUE(text.startsWith(QStringLiteral("Client to Server, "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("GET / HTTP/1.0\n") + host + QStringLiteral("\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\nServer to Client, "))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral(", 26 bytes\n")));
    EXPECT_FALSE(text.contains(QStringLiteral("example.org")));

    follow->SetBlockTimes(false);
    follow->SetView(FollowView::Hex);
    const QString hex = follow->ShownText();
    EXPECT_TRUE(hex.startsWith(QStringLiteral(
        "0000  47 45 54 20 2F 20 48 54  54 50 2F 31 2E 30 0D 0A  GET / HTTP/1.0..\n")))
        << hex.toStdString();
    EXPECT_TRUE(hex.contains(QStringLiteral("hello")));
    follow->close();
}

TEST_F(ConnectionsPaneTest, SaveWritesTheDownloadItself) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr int kMiB = 8;  // the same path, sized for the sanitizer's pace
#else
    constexpr int kMiB = 64;
#endif
    Form().MMenuItemLow->trigger();
    StartWithPane();
    Pair pair = Connect();
    QByteArray download(kMiB << 20, Qt::Uninitialized);
    QRandomGenerator(29).fillRange(reinterpret_cast<quint32*>(download.data()),
                                   download.size() / 4);
    pair.server->write(download);
    pair.server->disconnectFromHost();
    QByteArray received;
    ASSERT_TRUE(WaitFor(
        [&] {
            received += pair.client->readAll();
            return received.size() == download.size();
        },
        120000));
    ASSERT_TRUE(
        WaitFor([&] { return RowsAre(1) && Cell(0, kColumnState) == QLatin1String("Closed"); }));
    TFollowWindow* follow =
        Form().FollowConnection(Pane().Model().index(0, 0).data(kSerialRole).toULongLong());
    ASSERT_NE(follow, nullptr);
    const QString path = workDir_.filePath(QStringLiteral("download.bin"));
    AnswerModal([path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        ASSERT_NE(dialog, nullptr);
        dialog->selectFile(path);
        static_cast<QDialog*>(dialog)->accept();  // the file dialog's own accept
    });
    follow->Save(SaveKind::ServerBytes);
    QFile saved(path);
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(QCryptographicHash::hash(saved.readAll(), QCryptographicHash::Sha256),
              QCryptographicHash::hash(download, QCryptographicHash::Sha256));
    follow->close();
}

TEST_F(ConnectionsPaneTest, ThePanePlaceIsKeptWithTheSettings) {
    Form().MenuItemConnections->trigger();
    Form().MenuItemConnectionsBeside->trigger();
    Pane().Table->setColumnWidth(kColumnClient, 171);
    Form().close();
    form_ = std::make_unique<TForm1>();
    ASSERT_EQ(form_->StartUp({}), control::StartupResult::Ready);
    EXPECT_FALSE(Form().ConnectionsPane->isHidden());
    EXPECT_EQ(Form().LogSplitter->orientation(), Qt::Horizontal);
    EXPECT_EQ(Pane().Table->columnWidth(kColumnClient), 171);
}

}  // namespace
}  // namespace corvane::ui::testing
