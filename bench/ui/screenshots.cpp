// Takes the pictures of docs/screenshots: the window stopped, relaying an HTTP exchange at
// Detail High, paused, the about box, the help viewer, the Options dialog (stopped, with a
// Capture File, with every row filled in, and with TLS on both sides), a log with time stamps,
// the find bar with a match selected, the Connections pane beside a log shown for one of six
// Clients, the Follow window as text and as a hex dump, the Network Conditions dialog with a
// preset and a log of a Connection reset by the conditions. Runs on the display it is given
// (xvfb-run for the documentation), against a Server of its own on 127.0.0.1.
//     corvane_ui_screenshots <output folder>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QPixmap>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/messages.h"
#include "ui/about_box.h"
#include "ui/conditions_dialog.h"
#include "ui/connection_model.h"
#include "ui/connections_pane.h"
#include "ui/find_bar.h"
#include "ui/follow_window.h"
#include "ui/form1.h"
#include "ui/help_viewer.h"
#include "ui/log_buffer_view.h"
#include "ui/options_dialog.h"

namespace {

using corvane::ui::TForm1;

bool Save(QWidget* widget, const QDir& dir, const char* name) {
    // qWait does not let the loop go idle, so the edit commands are brought in step here.
    if (auto* form = qobject_cast<TForm1*>(widget)) {
        form->UpdateEditCommands();
    }
    const QString path = dir.filePath(QString::fromLatin1(name));
    const bool ok = widget->grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

// A Client on socket sends an HTTP request through the relay; once the exchange is over
// (its "Disconnected" line is in the Log Buffer) and the window has settled, it is saved as
// name. The socket is the caller's, so that it stays open after the picture.
bool RelayRequest(TForm1& form, QTcpSocket& socket, const QDir& dir, const char* name) {
    socket.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")),
                         form.Control().Engine().LocalPortNumber);
    (void)socket.waitForConnected(2000);
    socket.write(
        "GET /status.html HTTP/1.0\r\n"
        "Host: www.example.org\r\n"
        "User-Agent: probe/1.0\r\n"
        "Accept: text/html\r\n"
        "\r\n");
    (void)QTest::qWaitFor(
        [&] { return form.Memo1->toPlainText().contains(QStringLiteral("Disconnected")); }, 5000);
    QTest::qWait(1200);
    return Save(&form, dir, name);
}

// Answers each request with a small page, the way a web server would.
void ServePages(QTcpServer& server) {
    QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
        while (QTcpSocket* peer = server.nextPendingConnection()) {
            QObject::connect(peer, &QTcpSocket::readyRead, peer, [peer] {
                if (!peer->readAll().contains("\r\n\r\n")) {
                    return;
                }
                peer->write(
                    "HTTP/1.0 200 OK\r\n"
                    "Content-Type: text/html\r\n"
                    "Content-Length: 86\r\n"
                    "\r\n"
                    "<html><head><title>Status</title></head>\r\n"
                    "<body><p>All systems normal.</p></body></html>\r\n");
                peer->disconnectFromHost();
            });
        }
    });
}

// The Network Conditions dialog beside the window with the Satellite preset chosen; then a
// run whose Connections are reset 5 s after their Client connected, with the indicator on.
bool ConditionsPictures(TForm1& form, const QDir& dir) {
    form.Control().SetTimeStamps(false);
    form.FindBar->Close();
    form.MenuItemConditions->trigger();
    auto* dialog = form.findChild<corvane::ui::TConditionsDialog*>();
    if (dialog == nullptr) {
        return false;
    }
    dialog->ComboPreset->setCurrentIndex(
        dialog->ComboPreset->findText(QStringLiteral("Satellite")));
    QTest::qWait(300);
    bool ok = Save(dialog, dir, "conditions.png");

    dialog->ComboPreset->setCurrentIndex(dialog->ComboPreset->findText(QStringLiteral("Off")));
    dialog->EditEndAfter->setText(QStringLiteral("5000"));
    dialog->ComboEndAfterEnding->setCurrentIndex(1);  // reset: applied at once
    dialog->close();
    form.ButtonStart->click();
    QTcpSocket client;
    client.connectToHost(QHostAddress(QStringLiteral("127.0.0.1")),
                         form.Control().Engine().LocalPortNumber);
    (void)client.waitForConnected(2000);
    client.write("HELLO 1\r\n");
    (void)QTest::qWaitFor(
        [&] { return form.Memo1->toPlainText().contains(QStringLiteral("Disconnected from")); },
        8000);
    QTest::qWait(600);
    ok = Save(&form, dir, "conditions-reset.png") && ok;
    form.ButtonStop->click();
    return ok;
}

// Six Clients at once, their blocks interleaved in the Log Buffer; the Connections pane beside
// it, the log shown for the third Client only; then that Connection's Follow window as text
// and as a hex dump.
bool ShowConnections(TForm1& form, const QDir& dir) {
    form.FindBar->Close();
    form.MMenuItemClear->trigger();
    form.resize(1180, 640);
    form.MenuItemConnectionsBeside->trigger();
    form.MenuItemConnections->trigger();
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(std::make_unique<QTcpSocket>());
        clients.back()->connectToHost(QHostAddress(QStringLiteral("127.0.0.1")),
                                      form.Control().Engine().LocalPortNumber);
        (void)clients.back()->waitForConnected(2000);
    }
    for (int i = 0; i < 6; ++i) {
        clients[i]->write(QStringLiteral("GET /page%1.html HTTP/1.1\r\n"
                                         "Host: www.example.org\r\n"
                                         "User-Agent: curl/7.88.1\r\n"
                                         "Accept: */*\r\n\r\n")
                              .arg(i + 1)
                              .toLatin1());
    }
    corvane::ui::TConnectionsPane& pane = *form.ConnectionsPane;
    (void)QTest::qWaitFor([&] { return pane.Model().rowCount() == 6; }, 5000);
    QTest::qWait(1200);
    pane.Table->setFocus();
    pane.Table->selectRow(3);  // the third Client: the newest is on top
    QTest::keyClick(pane.Table, Qt::Key_Return);
    QTest::qWait(300);
    bool ok = Save(&form, dir, "connections.png");

    const auto serial = pane.SelectedSerials().front();
    corvane::ui::TFollowWindow* follow = form.FollowConnection(serial);
    if (follow == nullptr) {
        return false;
    }
    follow->resize(720, 420);
    QTest::qWait(600);
    ok = Save(follow, dir, "follow-text.png") && ok;
    follow->SetView(corvane::ui::FollowView::Hex);
    QTest::qWait(300);
    ok = Save(follow, dir, "follow-hex.png") && ok;
    follow->close();
    return ok;
}

}  // namespace

int main(int argc, char* argv[]) {
    corvane::platform::UseUnixEventLoop();
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: corvane_ui_screenshots <output folder>\n");
        return 2;
    }
    QDir out(QString::fromLocal8Bit(argv[1]));
    out.mkpath(QStringLiteral("."));
    QTemporaryDir config;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, config.path());

    QTcpServer server;
    if (!server.listen(QHostAddress(QStringLiteral("127.0.0.1")), 0)) {
        return 1;
    }
    ServePages(server);

    TForm1 form;
    form.StartUp({});
    form.EditRemoteHost->setText(QStringLiteral("127.0.0.1"));
    form.EditRemotePort->setText(QString::number(server.serverPort()));
    form.EditLogFile->setText(QDir::temp().filePath(QStringLiteral("trace.htm")));
    // Taller than the design size, so that a whole HTTP exchange fits in the Log Buffer.
    form.resize(630, 560);
    form.show();
    form.activateWindow();
    (void)QTest::qWaitForWindowActive(&form);
    QTest::qWait(300);
    bool ok = Save(&form, out, "stopped.png");
    // The Options dialog while stopped, with a Capture File named; cancelled, so that the
    // run below captures nothing.
    QTimer::singleShot(300, &form, [&] {
        if (auto* dialog =
                qobject_cast<corvane::ui::TOptionsDialog*>(QApplication::activeModalWidget())) {
            dialog->EditCaptureFile->setText(QStringLiteral("/home/halvard/captures/run.pcap"));
            QTest::qWait(100);
            ok = Save(dialog, out, "options-capture.png") && ok;
            dialog->Buttons->button(QDialogButtonBox::Cancel)->click();
        }
    });
    form.MenuItemOptions->trigger();

    // The Options dialog while stopped, every row filled in; Cancel, so the run below is
    // unchanged by it.
    QTimer::singleShot(300, &form, [&] {
        if (auto* dialog =
                qobject_cast<corvane::ui::TOptionsDialog*>(QApplication::activeModalWidget())) {
            dialog->CheckBoxTimeStamps->setChecked(true);
            dialog->EditListenAddress->setText(QStringLiteral("127.0.0.1"));
            dialog->CheckBoxHalfClose->setChecked(true);
            dialog->EditCaptureFile->setText(QStringLiteral("/home/halvard/captures/run.pcap"));
            dialog->ComboTls->setCurrentIndex(3);
            dialog->EditTlsCert->setText(QStringLiteral("/home/halvard/tls/relay.pem"));
            dialog->EditTlsKey->setText(QStringLiteral("/home/halvard/tls/relay.key"));
            dialog->CheckBoxTlsVerify->setChecked(true);
            dialog->EditRotate->setText(QStringLiteral("1h,100M"));
            dialog->SpinPartsKept->setValue(24);
            dialog->Buttons->button(QDialogButtonBox::Ok)->setFocus();
            QTest::qWait(100);
            ok = Save(dialog, out, "options.png") && ok;
            dialog->Buttons->button(QDialogButtonBox::Cancel)->click();
        }
    });
    form.MenuItemOptions->trigger();

    // The Options dialog with TLS on both sides and Corvane's own certificate (the boxes
    // empty); cancelled.
    QTimer::singleShot(300, &form, [&] {
        if (auto* dialog =
                qobject_cast<corvane::ui::TOptionsDialog*>(QApplication::activeModalWidget())) {
            dialog->ComboTls->setCurrentIndex(3);
            dialog->Buttons->button(QDialogButtonBox::Ok)->setFocus();
            QTest::qWait(100);
            ok = Save(dialog, out, "options-tls.png") && ok;
            dialog->Buttons->button(QDialogButtonBox::Cancel)->click();
        }
    });
    form.MenuItemOptions->trigger();

    form.ButtonStart->click();
    QTcpSocket client;
    ok = RelayRequest(form, client, out, "relaying.png") && ok;

    form.PopupMenu1->popup(form.Memo1->mapToGlobal(QPoint(200, 60)));
    QTest::qWait(200);
    form.MenuSize->popup(form.PopupMenu1->mapToGlobal(QPoint(form.PopupMenu1->width(), 40)));
    QTest::qWait(200);
    ok = Save(form.PopupMenu1, out, "popup.png") && ok;
    ok = Save(form.MenuSize, out, "popup-size.png") && ok;
    form.MenuSize->close();
    form.PopupMenu1->close();

    form.SpeedButtonPause->click();
    QTest::qWait(200);
    ok = Save(&form, out, "paused.png") && ok;
    form.SpeedButtonPause->click();

    QTimer::singleShot(300, &form, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            ok = Save(box, out, "about.png") && ok;
            box->close();
        }
    });
    form.MenuItemAbout->trigger();

    form.MenuItemContents->trigger();
    if (auto* help = form.findChild<corvane::ui::THelpViewer*>()) {
        QTest::qWait(300);
        ok = Save(help, out, "help.png") && ok;
        help->close();
    } else {
        ok = false;
    }
    // The Options dialog, answered with Time Stamps on; then a second exchange with them.
    QTimer::singleShot(300, &form, [&] {
        if (auto* dialog =
                qobject_cast<corvane::ui::TOptionsDialog*>(QApplication::activeModalWidget())) {
            dialog->CheckBoxTimeStamps->setChecked(true);
            dialog->Buttons->button(QDialogButtonBox::Ok)->click();
        }
    });
    form.MenuItemOptions->trigger();
    form.MMenuItemClear->trigger();
    QTcpSocket second;
    ok = RelayRequest(form, second, out, "time-stamps.png") && ok;

    form.MenuItemFind->trigger();
    QTest::keyClicks(form.FindBar->EditFind, QStringLiteral("text/html"));
    QTest::keyClick(form.FindBar->EditFind, Qt::Key_Return);
    QTest::qWait(300);
    ok = Save(&form, out, "find.png") && ok;

    ok = ShowConnections(form, out) && ok;

    form.ButtonStop->click();
    ok = ConditionsPictures(form, out) && ok;
    return ok ? 0 : 1;
}
