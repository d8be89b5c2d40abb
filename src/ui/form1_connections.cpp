// TForm1's Connections pane: View > Connections and its toolbar button, the pane in a
// splitter with the Log Buffer, its settings, and what its commands do: the Log Buffer shows
// only the selected Connections' lines, the engine closes or resets them, the Follow window
// opens on one.
#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QToolButton>

#include "ui/connection_model.h"
#include "ui/connections_pane.h"
#include "ui/follow_window.h"
#include "ui/form1.h"
#include "ui/glyphs.h"
#include "ui/hints.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui {

namespace {

// The pane's default share of the splitter when first shown.
constexpr int kPaneShareUnder = 160;
constexpr int kPaneShareBeside = 320;

}  // namespace

void TForm1::BuildConnectionsPane() {
    ConnectionsPane = new TConnectionsPane(LogSplitter);
    LogSplitter->addWidget(ConnectionsPane);
    LogSplitter->setStretchFactor(0, 1);
    LogSplitter->setStretchFactor(1, 0);
    LogSplitter->setChildrenCollapsible(false);
    // Hidden, the pane and its handle take no room: the window is as designed.
    ConnectionsPane->hide();

    connect(ConnectionsPane, &TConnectionsPane::ShowOnlySelected, this,
            [this](const std::vector<log::ConnectionSerial>& serials) {
                if (!serials.empty()) {
                    Memo1->ShowOnly(serials);
                }
            });
    connect(ConnectionsPane, &TConnectionsPane::ShowAll, this, [this] { Memo1->ShowAll(); });
    connect(ConnectionsPane, &TConnectionsPane::Follow, this,
            [this](log::ConnectionSerial serial) { FollowConnection(serial); });
    connect(ConnectionsPane, &TConnectionsPane::CloseConnections, this,
            [this](const std::vector<log::ConnectionSerial>& serials) {
                control_->Engine().CloseConnections(serials);
            });
    connect(ConnectionsPane, &TConnectionsPane::ResetConnections, this,
            [this](const std::vector<log::ConnectionSerial>& serials) {
                control_->Engine().ResetConnections(serials);
            });

    SpeedButtonConnections = new QToolButton(Panel2);
    SpeedButtonConnections->setObjectName(QStringLiteral("SpeedButtonConnections"));
    SpeedButtonConnections->setGeometry(165, 3, 25, 25);
    SpeedButtonConnections->setIcon(GlyphIcon(Glyph::Connections));
    SpeedButtonConnections->setIconSize(GlyphSize(Glyph::Connections));
    SpeedButtonConnections->setFocusPolicy(Qt::NoFocus);
    SpeedButtonConnections->setCheckable(true);
    SetHint(*SpeedButtonConnections,
            QStringLiteral("Connections|Shows or hides the list of Connections"));
    connect(SpeedButtonConnections, &QToolButton::clicked, this,
            [this] { ShowConnectionsPane(!ConnectionsPaneShown()); });
}

void TForm1::BuildViewMenu() {
    MenuView = new QMenu(QStringLiteral("&View"), menuBar());
    MenuView->setObjectName(QStringLiteral("MenuView"));
    menuBar()->insertMenu(MenuAction->menuAction(), MenuView);
    MenuItemConnections = MenuView->addAction(QStringLiteral("&Connections"));
    MenuItemConnections->setObjectName(QStringLiteral("MenuItemConnections"));
    MenuItemConnections->setCheckable(true);
    SetHint(*MenuItemConnections, QStringLiteral("Shows or hides the list of Connections"));
    MenuItemConnectionsBeside = MenuView->addAction(QStringLiteral("Connections &Beside Log"));
    MenuItemConnectionsBeside->setObjectName(QStringLiteral("MenuItemConnectionsBeside"));
    MenuItemConnectionsBeside->setCheckable(true);
    SetHint(*MenuItemConnectionsBeside,
            QStringLiteral("Puts the list of Connections beside the Log Buffer, else under it"));
    connect(MenuItemConnections, &QAction::triggered, this,
            [this] { ShowConnectionsPane(!ConnectionsPaneShown()); });
    connect(MenuItemConnectionsBeside, &QAction::triggered, this,
            [this](bool beside) { PlaceConnectionsPane(beside); });
}

bool TForm1::ConnectionsPaneShown() const {
    return !ConnectionsPane->isHidden();
}

void TForm1::ShowConnectionsPane(bool shown) {
    MenuItemConnections->setChecked(shown);
    SpeedButtonConnections->setChecked(shown);
    if (shown == ConnectionsPaneShown()) {
        return;
    }
    if (shown && !connectionViewSet_) {
        // From now on the relay reports its Connections; the live ones come at its next tick.
        connectionViewSet_ = true;
        control_->Engine().SetConnectionView(&ConnectionsPane->Model());
        const bool beside = LogSplitter->orientation() == Qt::Horizontal;
        const int total = beside ? LogSplitter->width() : LogSplitter->height();
        const int pane = beside ? kPaneShareBeside : kPaneShareUnder;
        ConnectionsPane->setVisible(true);
        if (LogSplitter->sizes().value(1) <= 0 && total > pane * 2) {
            LogSplitter->setSizes({total - pane, pane});
        }
        return;
    }
    ConnectionsPane->setVisible(shown);
}

void TForm1::PlaceConnectionsPane(bool beside) {
    MenuItemConnectionsBeside->setChecked(beside);
    LogSplitter->setOrientation(beside ? Qt::Horizontal : Qt::Vertical);
}

TFollowWindow* TForm1::FollowConnection(log::ConnectionSerial serial) {
    const relay::ConnectionRow* row = ConnectionsPane->Model().Find(serial);
    const std::string& path = control_->StreamsPath();
    QString why;
    if (row == nullptr) {
        return nullptr;
    }
    if (path.empty()) {
        why = QStringLiteral(
            "Streams are not kept: set Keep Streams in Tools > Options... for the next Start");
    } else if (ConnectionsPane->Model().StreamsDropped(serial)) {
        why = QStringLiteral("The bytes of this Connection were given up to make room");
    }
    TFollowWindow* window = nullptr;
    if (why.isEmpty()) {
        TFollowWindow::Source source;
        source.path = path;
        source.serial = serial;
        source.title =
            QStringLiteral("Connection %1: %2 to %3")
                .arg(row->number)
                .arg(QString::fromStdString(row->client), QString::fromStdString(row->server));
        source.handOver = [this] {
            if (control_->Log().Streams().IsOpen()) {
                control_->Log().Streams().HandOver();
            }
        };
        source.live = [this, serial] { return control_->Engine().FindSerial(serial) != nullptr; };
        // Whatever the store still builds goes to the file before it is read.
        source.handOver();
        window = new TFollowWindow(this, std::move(source));
        if (!window->Opened()) {
            why = window->Error();
            delete window;
            window = nullptr;
        }
    }
    if (window == nullptr) {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Follow"), why, QMessageBox::Ok,
                        this);
        box.setObjectName(QStringLiteral("FollowNotKept"));
        box.exec();
        return nullptr;
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

std::string TForm1::ConnectionsPaneText() const {
    QStringList sizes;
    for (const int size : LogSplitter->sizes()) {
        sizes << QString::number(size);
    }
    return QStringLiteral("shown=%1;beside=%2;sizes=%3;columns=%4")
        .arg(ConnectionsPaneShown() ? 1 : 0)
        .arg(LogSplitter->orientation() == Qt::Horizontal ? 1 : 0)
        .arg(sizes.join(QLatin1Char(',')), ConnectionsPane->ColumnWidths())
        .toStdString();
}

void TForm1::RestoreConnectionsPane(const std::string& text) {
    bool shown = false;
    QList<int> sizes;
    for (const QString& field : QString::fromStdString(text).split(QLatin1Char(';'))) {
        const QString name = field.section(QLatin1Char('='), 0, 0);
        const QString value = field.section(QLatin1Char('='), 1);
        if (name == QLatin1String("shown")) {
            shown = value == QLatin1String("1");
        } else if (name == QLatin1String("beside")) {
            PlaceConnectionsPane(value == QLatin1String("1"));
        } else if (name == QLatin1String("sizes")) {
            for (const QString& size : value.split(QLatin1Char(','))) {
                sizes << size.toInt();
            }
        } else if (name == QLatin1String("columns")) {
            ConnectionsPane->SetColumnWidths(value);
        }
    }
    if (shown) {
        ShowConnectionsPane(true);
        if (sizes.size() == 2 && sizes[0] > 0 && sizes[1] > 0) {
            LogSplitter->setSizes(sizes);
        }
    }
}

}  // namespace corvane::ui
