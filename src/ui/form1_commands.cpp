// TForm1's commands: the one click handler, the edit commands and their enabling by focus,
// Browse, help, the home page and the about box.
#include <QApplication>
#include <QDesktopServices>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QToolButton>
#include <QUrl>

#include "ui/about_box.h"
#include "ui/browse_dialog.h"
#include "ui/connection_model.h"
#include "ui/connections_pane.h"
#include "ui/find_bar.h"
#include "ui/form1.h"
#include "ui/help_viewer.h"
#include "ui/home_page.h"
#include "ui/log_buffer_view.h"
#include "ui/options_dialog.h"

namespace corvane::ui {

namespace {

int TagOf(const QObject* sender) {
    return sender->property("Tag").toInt();
}

}  // namespace

void TForm1::OnClick(QObject* sender) {
    if (sender == SpeedButtonStart || sender == MenuItemStart || sender == ButtonStart) {
        control_->Start();
    } else if (sender == SpeedButtonStop || sender == MenuItemStop || sender == ButtonStop) {
        control_->Stop();
    } else if (sender == MenuItemPause || sender == ButtonPause ||
               (sender == SpeedButtonPause && !control_->Paused())) {
        control_->Pause();
    } else if (sender == MenuItemResume || sender == ButtonResume ||
               (sender == SpeedButtonPause && control_->Paused())) {
        control_->Resume();
    } else if (sender == ButtonBrowse) {
        Browse();
    } else if (sender == MenuItemReset) {
        control_->Reset();
    } else if (sender == MenuItemExit) {
        close();
    } else if (sender == MenuCopy) {
        Memo1->copy();
    } else if (sender == MenuSelectAll) {
        Memo1->selectAll();
    } else if (sender == MenuItemContents) {
        ShowHelpContents();
    } else if (sender == MenuItemHomePage) {
        OpenHomePage();
    } else if (sender == MenuItemAbout) {
        ShowAboutBox();
    } else if (sender == MenuClear || sender == MMenuItemClear) {
        control_->Log().ClearLogBuffer();
        ConnectionsPane->Model().ClearEnded();
    } else if (sender == MenuItemHexOnly) {
        control_->ToggleHexOnly();
    } else if (sender == MenuItemOptions) {
        ShowOptions();
    } else if (sender == MenuItemConditions) {
        ShowConditionsDialog();
    } else if (sender == MenuItemFind) {
        ShowFindBar();
    } else if (qobject_cast<QAction*>(sender) != nullptr ||
               qobject_cast<QToolButton*>(sender) != nullptr) {
        RunEditCommand(TagOf(sender));
    }
}

QLineEdit* TForm1::Edit(control::EditBox box) const {
    switch (box) {
        case control::EditBox::RemoteHost:
            return EditRemoteHost;
        case control::EditBox::RemotePort:
            return EditRemotePort;
        case control::EditBox::LocalPort:
            return EditLocalPort;
        case control::EditBox::LogFile:
        case control::EditBox::ListenAddress:  // the Options dialog's; the window has none
            break;
        case control::EditBox::CaptureFile:
        case control::EditBox::KeptStreams:
            return nullptr;  // set on the command line and in the store, not in a box here
    }
    return EditLogFile;
}

namespace {

QLineEdit* FocusedEdit(QWidget* focus, std::initializer_list<QLineEdit*> edits) {
    for (QLineEdit* edit : edits) {
        if (focus == edit) {
            return edit;
        }
    }
    return nullptr;
}

}  // namespace

void TForm1::RunEditCommand(int tag) {
    QLineEdit* edit =
        FocusedEdit(focusWidget(), {EditRemoteHost, EditRemotePort, EditLocalPort, EditLogFile});
    if (edit == nullptr) {
        if (focusWidget() == ConnectionsPane->Table) {
            if (tag == 2) {
                ConnectionsPane->CopySelected();
            } else if (tag == 5) {
                ConnectionsPane->Table->selectAll();
            }
            return;
        }
        if (tag == 2) {
            Memo1->copy();
        } else {
            Memo1->selectAll();
        }
        return;
    }
    // QLineEdit's slots do not check read-only themselves; its keys do.
    const bool editable = !edit->isReadOnly();
    switch (tag) {
        case 1:
            if (editable) {
                edit->cut();
            }
            break;
        case 2:
            edit->copy();
            break;
        case 3:
            if (editable) {
                edit->paste();
            }
            break;
        case 4:
            if (editable) {
                edit->del();
            }
            break;
        case 5:
            edit->selectAll();
            break;
        default:
            if (editable) {
                edit->undo();
            }
            break;
    }
}

void TForm1::UpdateEditCommands() {
    control_->OnIdle();

    bool undo = false;
    bool cut = false;
    bool copy = false;
    bool paste = false;
    bool selectAll = false;
    QWidget* focus = focusWidget();
    if (QLineEdit* edit =
            FocusedEdit(focus, {EditRemoteHost, EditRemotePort, EditLocalPort, EditLogFile})) {
        const bool selection = edit->hasSelectedText();
        undo = edit->isUndoAvailable();
        cut = selection && !edit->isReadOnly();
        copy = selection;
        paste = !edit->isReadOnly() && clipboardHasText_;
        selectAll = edit->text().size() != edit->selectedText().size();
    } else if (focus == ConnectionsPane->Table) {
        copy = ConnectionsPane->Table->selectionModel()->hasSelection();
        selectAll = ConnectionsPane->Table->model()->rowCount() > 0;
    } else if (focus == Memo1) {
        copy = Memo1->HasSelection();
        selectAll = Memo1->DocumentLength() != Memo1->SelectionLength();
    }
    MenuItemUndo->setEnabled(undo);
    MenuItemCut->setEnabled(cut);
    MenuItemCopy->setEnabled(copy);
    MenuItemPaste->setEnabled(paste);
    MenuItemSelectAll->setEnabled(selectAll);
    SpeedButtonCut->setEnabled(cut);
    SpeedButtonCopy->setEnabled(copy);
    SpeedButtonPaste->setEnabled(paste);
}

void TForm1::Browse() {
    EditLogFile->setFocus();
    TBrowseDialog dialog(this, EditLogFile->text());
    if (dialog.exec() == QDialog::Accepted) {
        const QString chosen = dialog.ChosenFile();
        if (!chosen.isEmpty()) {
            EditLogFile->setText(chosen);
        }
    }
}

namespace {

void ShowHelpFileMissing(QWidget* parent) {
    QMessageBox::critical(
        parent, QStringLiteral("Corvane"),
        QStringLiteral("Cannot find the help file %1.").arg(QString::fromLatin1(kHelpFileName)));
}

}  // namespace

void TForm1::ShowHelpContents() {
    const QString path = FindHelpFile();
    if (path.isEmpty()) {
        ShowHelpFileMissing(this);
        return;
    }
    if (helpViewer_ == nullptr) {
        helpViewer_ = new THelpViewer(this, path);  // a child of the window
    } else {
        helpViewer_->ShowContents();
    }
    helpViewer_->show();
    helpViewer_->raise();
    helpViewer_->activateWindow();
}

void TForm1::OpenHomePage() {
    const QUrl url = HomePageUrl();
    if (url.isEmpty()) {
        ShowHelpFileMissing(this);
        return;
    }
    // Neither waited for nor checked.
    QDesktopServices::openUrl(url);
}

void TForm1::ShowAboutBox() {
    TAboutBox box(this);
    box.exec();
}

void TForm1::ShowOptions() {
    OptionValues values;
    values.timeStamps = control_->TimeStamps();
    values.listenAddress = control_->ListenAddress();
    values.halfClose = control_->HalfClose();
    values.captureFile = QString::fromStdString(control_->CaptureFile());
    values.keepStreamsMiB = control_->KeepStreams() >> 20;
    values.tls = static_cast<int>(control_->Tls() & 3u);
    values.tlsCert = QString::fromStdString(control_->TlsCert());
    values.tlsKey = QString::fromStdString(control_->TlsKey());
    values.tlsVerify = control_->TlsVerify();
    values.rotate = QString::fromStdString(control_->Rotate());
    values.partsKept = control_->PartsKept();
    TOptionsDialog dialog(this, values, control_->Running());
    if (focusListenAddress_) {
        // Start refused the address: the box is where to mend it.
        focusListenAddress_ = false;
        dialog.EditListenAddress->selectAll();
        dialog.EditListenAddress->setFocus(Qt::OtherFocusReason);
    }
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    const OptionValues chosen = dialog.Values();
    // Time Stamps may change while relaying: the lines logged from now on follow it.
    control_->SetTimeStamps(chosen.timeStamps);
    // The others are taken by the next Start (the Capture File is opened then); while
    // relaying their rows are greyed.
    if (!control_->Running()) {
        control_->SetListenAddress(chosen.listenAddress);
        control_->SetHalfClose(chosen.halfClose);
        control_->SetCaptureFile(chosen.captureFile.toStdString());
        control_->SetKeepStreams(chosen.keepStreamsMiB << 20);
        control_->SetTls(static_cast<std::uint32_t>(chosen.tls), chosen.tlsCert.toStdString(),
                         chosen.tlsKey.toStdString(), chosen.tlsVerify);
        control_->SetRotation(chosen.rotate.toStdString(), chosen.partsKept);
    }
}

void TForm1::ShowFindBar() {
    FindBar->Open();
}

}  // namespace corvane::ui
