// TForm1 as the views of the relay control, the relay engine and the log: edit texts and
// focus, the run-state controls, the counters and status panels, the message boxes; and the
// window's own events: start-up, activation, hints, Enter, closing.
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcutEvent>
#include <QStatusTipEvent>
#include <QToolButton>

#include "control/command_error.h"
#include "platform/messages.h"
#include "ui/connection_model.h"
#include "ui/connections_pane.h"
#include "ui/form1.h"
#include "ui/hints.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui {

namespace {

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TForm1::~TForm1() {
    platform::SetIdleHandler({});
    qApp->removeEventFilter(this);
    // The control (and the log that holds Memo1) goes before the widgets do.
    control_.reset();
}

control::StartupResult TForm1::StartUp(const std::vector<std::string>& args) {
    // The hint handler: every status tip of the application ends up in panel 0.
    qApp->installEventFilter(this);
    platform::SetIdleHandler([this] { UpdateEditCommands(); });
    const control::StartupResult result = control_->Initialise(args);
    if (result == control::StartupResult::UsageError) {
        platform::SetIdleHandler({});
        return result;
    }
    if (result == control::StartupResult::Ready) {
        control_->InstallSignalClose();
    }
    RestoreConnectionsPane(control_->ConnectionsPane());
    return result;
}

// --- control::ControlView ----------------------------------------------------------------

std::string TForm1::EditText(control::EditBox box) const {
    QLineEdit* edit = Edit(box);
    return edit != nullptr ? edit->text().toStdString() : std::string();
}

void TForm1::SetEditText(control::EditBox box, std::string_view text) {
    if (QLineEdit* edit = Edit(box)) {
        edit->setText(FromUtf8(text));
    }
}

void TForm1::FocusEdit(control::EditBox box) {
    if (box == control::EditBox::ListenAddress) {
        // The Options dialog's box: it opens on it once the error box is dismissed.
        focusListenAddress_ = true;
        return;
    }
    if (QLineEdit* edit = Edit(box)) {
        edit->setFocus(Qt::OtherFocusReason);
    }
}

void TForm1::ShowPaused(bool paused) {
    MenuItemPause->setEnabled(!paused);
    ButtonPause->setEnabled(!paused);
    MenuItemResume->setEnabled(paused);
    ButtonResume->setEnabled(paused);
    StatusPanel[2]->setText(paused ? QStringLiteral("Paused") : QStringLiteral("Started"));
    SpeedButtonPause->setChecked(paused);
    SetHint(*SpeedButtonPause, paused ? QStringLiteral("Resume|") + HintOf(*MenuItemResume)
                                      : QStringLiteral("Pause|") + HintOf(*MenuItemPause));
}

void TForm1::ShowError(std::string_view message) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(control::kErrorBoxCaption),
                    FromUtf8(control::WithFullStop(message)), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.exec();
    if (focusListenAddress_) {
        ShowOptions();
    }
}

void TForm1::ShowSocketError(std::string_view text) {
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(control::kSocketErrorCaption),
                    FromUtf8(text), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("SocketErrorBox"));
    box.exec();
}

bool TForm1::AskCloseQuestion() {
    if (closeForced_) {
        return true;
    }
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(control::kCloseQuestionCaption),
                    QString::fromLatin1(control::kCloseQuestion),
                    QMessageBox::Yes | QMessageBox::No, this);
    box.setObjectName(QStringLiteral("CloseQuestion"));
    const bool yes = box.exec() == QMessageBox::Yes;
    // A signal that arrived meanwhile dismissed the box: the close goes on as if answered Yes.
    return yes || closeForced_;
}

void TForm1::CheckHexOnly(bool on) {
    MenuItemHexOnly->setChecked(on);
}

void TForm1::ApplyStoredSize(const control::LoadedSettings& loaded,
                             const control::Settings& settings) {
    if (loaded.WidthRead || loaded.HeightRead) {
        resize(loaded.WidthRead ? settings.WindowWidth : width(),
               loaded.HeightRead ? settings.WindowHeight : height());
    }
}

void TForm1::CloseWindow() {
    closeForced_ = true;
    DismissModalWidgets();
    // Inside the close question this close does nothing; the question's Yes closes instead.
    close();
}

void TForm1::DismissModalWidgets() {
    // Bounded: a widget that will not hide must not hold the close.
    for (int i = 0; i < 16; ++i) {
        QWidget* widget = QApplication::activePopupWidget();
        if (widget == nullptr) {
            widget = QApplication::activeModalWidget();
        }
        if (widget == nullptr || widget == this) {
            return;
        }
        if (auto* dialog = qobject_cast<QDialog*>(widget)) {
            dialog->reject();
        } else {
            widget->close();
        }
        if (widget->isVisible()) {
            widget->hide();  // hiding ends a dialog's exec as well
        }
    }
}

// --- relay::RelayView ----------------------------------------------------------------------

void TForm1::ShowCounter(relay::Counter counter, std::string_view text) {
    QLabel* label = LabelConns;
    switch (counter) {
        case relay::Counter::Connections:
            break;
        case relay::Counter::CSTransferred:
            label = LabelCSTrans;
            break;
        case relay::Counter::CSBuffered:
            label = LabelCSBuf;
            break;
        case relay::Counter::SCTransferred:
            label = LabelSCTrans;
            break;
        case relay::Counter::SCBuffered:
            label = LabelSCBuf;
            break;
    }
    label->setText(FromUtf8(text));
    FitCounter(label);
}

void TForm1::ShowLocalAddress(std::string_view text) {
    StatusPanel[1]->setText(FromUtf8(text));
}

void TForm1::ShowRunningState(bool running) {
    SetEditsReadOnly(running);
    ButtonBrowse->setEnabled(!running);
    MenuItemStart->setEnabled(!running);
    SpeedButtonStart->setEnabled(!running);
    ButtonStart->setEnabled(!running);
    SetStartIsDefault(!running);
    for (QAction* item : {MenuItemStop, MenuItemPause, MenuItemReset}) {
        item->setEnabled(running);
    }
    for (QAbstractButton* button : std::initializer_list<QAbstractButton*>{
             SpeedButtonStop, ButtonStop, SpeedButtonPause, ButtonPause}) {
        button->setEnabled(running);
    }
    MenuItemResume->setEnabled(false);
    ButtonResume->setEnabled(false);
    MenuItemHexOnly->setEnabled(!running);
    StatusPanel[2]->setText(running ? QStringLiteral("Started") : QStringLiteral("Stopped"));
    SpeedButtonPause->setChecked(false);
    SetHint(*SpeedButtonPause, QStringLiteral("Pause|") + HintOf(*MenuItemPause));
    if (running) {
        // A new run: the Connections of the last are gone, and so is their filter.
        ConnectionsPane->Model().ClearAll();
        Memo1->ShowAll();
    }
}

// --- Events --------------------------------------------------------------------------------

void TForm1::ShowLongHint(const QString& hint) {
    StatusPanel[0]->setText(LongHint(hint));
}

void TForm1::OnActivate() {
    if (activated_) {
        return;
    }
    activated_ = true;
    control_->Log().SetActivated(true);
    if (control_->Running()) {
        control_->Log().ScrollLogToEnd();
    }
}

bool TForm1::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) {
        OnActivate();
    }
    return QMainWindow::event(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        ShowLongHint(static_cast<QStatusTipEvent*>(event)->tip());
        return true;
    }
    if (event->type() == QEvent::Shortcut) {
        // "P&ause" and the "&Action" menu share their mnemonic. A button's mnemonic presses
        // the button, as it does when it is the only one; Qt would only focus it.
        auto* button = qobject_cast<QPushButton*>(watched);
        if (button != nullptr && static_cast<QShortcutEvent*>(event)->isAmbiguous() &&
            button->window() == this && button->isEnabled()) {
            button->setFocus(Qt::ShortcutFocusReason);
            button->animateClick();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TForm1::keyPressEvent(QKeyEvent* event) {
    // Enter presses the default button wherever the focus is, unless a button that has the
    // focus took it first.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        ButtonStart->isDefault() && ButtonStart->isEnabled()) {
        ButtonStart->click();
        event->accept();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void TForm1::showEvent(QShowEvent* event) {
    if (!centred_) {
        centred_ = true;
        if (QScreen* s = screen()) {
            const QRect area = s->availableGeometry();
            move(area.center() - QPoint(width() / 2, height() / 2));
        }
    }
    QMainWindow::showEvent(event);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!control_->CloseQuery()) {
        event->ignore();
        return;
    }
    if (connectionViewSet_ || !control_->ConnectionsPane().empty()) {
        control_->SetConnectionsPane(ConnectionsPaneText());
    }
    control_->OnClose(width(), height());
    event->accept();
}

}  // namespace corvane::ui
