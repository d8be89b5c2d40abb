// TForm1, the main window: the parameter boxes, the command buttons and their toolbar
// twins, the counters, the Log Buffer view, the status bar, the main menu and the Log
// Buffer's context menu. It owns the relay control (settings, traffic log, relay engine)
// and implements the views through which they show themselves.
//
// Every button and menu command goes through OnClick, which tells the commands apart by
// the sender. The enabling of commands follows the run state (ShowRunningState, ShowPaused)
// and, at idle time, the focused control (UpdateEditCommands).
#pragma once

#include <QMainWindow>
#include <memory>
#include <string>
#include <vector>

#include "control/control_view.h"
#include "control/relay_control.h"
#include "log/connection_serial.h"
#include "log/log_view.h"
#include "relay/relay_view.h"

class QAction;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QSplitter;
class QToolButton;

namespace corvane::ui {

class TConditionsDialog;
class TConnectionsPane;
class TFindBar;
class TFollowWindow;
class TLogBufferView;
class THelpViewer;

class TForm1 final : public QMainWindow,
                     public control::ControlView,
                     public relay::RelayView,
                     public log::LogMenuView {
    Q_OBJECT
public:
    // Builds the window hidden, in its stopped design state. Nothing is loaded or started.
    TForm1();
    ~TForm1() override;

    // The start-up of the hidden window: the hint and idle handlers, the stored settings,
    // the command line (args after the program's name), the check marks, the socket layer.
    // On UsageError nothing has started and the window must not be shown.
    control::StartupResult StartUp(const std::vector<std::string>& args);

    control::RelayControl& Control() { return *control_; }

    // --- Commands -------------------------------------------------------------------------
    // The one handler of every button and every menu item except Size and Detail.
    void OnClick(QObject* sender);
    // Cut 1, Copy 2, Paste 3, Delete 4, Select All 5, anything else Undo, on the focused edit
    // box; without one, Copy (2) or Select All (any other tag) on the Log Buffer.
    void RunEditCommand(int tag);
    // The idle handler: the automatic start, then the edit commands' enabling by focus.
    void UpdateEditCommands();
    // Status bar panel 0 shows the long part of the application's current hint.
    void ShowLongHint(const QString& hint);
    // Before PopupMenu1 opens: Copy needs a selection, Select All any text.
    void OnPopup();
    void OnActivate();
    void Browse();
    void ShowHelpContents();
    void OpenHomePage();
    void ShowAboutBox();
    // Tools > Options...: the dialog; OK applies its values (saved when the window closes).
    void ShowOptions();
    // Tools > Network Conditions...: the dialog, beside the window and not modal; made on
    // first use and kept (form1_conditions.cpp).
    void ShowConditionsDialog();
    // Edit > Find...: opens the find bar under the Log Buffer.
    void ShowFindBar();
    // View > Connections and its toolbar button: the pane beside or under the Log Buffer
    // (form1_connections.cpp). The relay reports its Connections from the first show on.
    void ShowConnectionsPane(bool shown);
    bool ConnectionsPaneShown() const;
    // Beside the Log Buffer (true) or under it.
    void PlaceConnectionsPane(bool beside);
    // The Follow window of one Connection; null (after telling why) when its bytes are not
    // kept.
    TFollowWindow* FollowConnection(log::ConnectionSerial serial);
    // The Size items (tag: characters, -1 unlimited) and the Detail items (tag: level).
    void SetBufferSize(QObject* sender);
    void SetShowData(QObject* sender);

    // --- Views ----------------------------------------------------------------------------
    std::string EditText(control::EditBox box) const override;
    void SetEditText(control::EditBox box, std::string_view text) override;
    void FocusEdit(control::EditBox box) override;
    void ShowPaused(bool paused) override;
    void ShowError(std::string_view message) override;
    void ShowSocketError(std::string_view text) override;
    bool AskCloseQuestion() override;
    void CheckHexOnly(bool on) override;
    void ApplyStoredSize(const control::LoadedSettings& loaded,
                         const control::Settings& settings) override;
    void CloseWindow() override;
    // LabelConditions shown while any condition is on, with the set in its hint.
    void ShowConditions(const relay::Conditions& set) override;

    void ShowCounter(relay::Counter counter, std::string_view text) override;
    void ShowLocalAddress(std::string_view text) override;
    void ShowRunningState(bool running) override;

    void CheckBufferSize(std::int32_t value) override;
    void CheckDetail(std::uint32_t level) override;

    QLineEdit* Edit(control::EditBox box) const;
    bool Activated() const { return activated_; }

    // --- Controls (object names as the members) ------------------------------------------
    QFrame* Panel1;
    QFrame* Panel2;
    QFrame* Panel3;
    QFrame* Panel4;
    QFrame* Panel5;
    QGroupBox* GroupBox1;
    QLabel* Label1;
    QLabel* Label2;
    QLabel* Label3;
    QLabel* Label4;
    QLabel* Label5;
    QLineEdit* EditRemoteHost;
    QLineEdit* EditRemotePort;
    QLineEdit* EditLocalPort;
    QLineEdit* EditLogFile;
    QPushButton* ButtonBrowse;
    QPushButton* ButtonStart;
    QPushButton* ButtonStop;
    QPushButton* ButtonPause;
    QPushButton* ButtonResume;
    QLabel* LabelConns;
    QLabel* LabelCSTrans;
    QLabel* LabelCSBuf;
    QLabel* LabelSCTrans;
    QLabel* LabelSCBuf;
    // "Conditions on", in the Error colour in a panel after StatusPanel[2]; hidden while off.
    QLabel* LabelConditions;
    QToolButton* SpeedButtonCut;
    QToolButton* SpeedButtonCopy;
    QToolButton* SpeedButtonPaste;
    QToolButton* SpeedButtonStart;
    QToolButton* SpeedButtonStop;
    QToolButton* SpeedButtonPause;
    TLogBufferView* Memo1;
    TFindBar* FindBar;
    QSplitter* LogSplitter;
    TConnectionsPane* ConnectionsPane;
    QToolButton* SpeedButtonConnections;
    QLabel* StatusPanel[3];

    QMenu* MenuFile;
    QMenu* MenuEdit;
    QMenu* MenuView;
    QAction* MenuItemConnections;
    QAction* MenuItemConnectionsBeside;
    QMenu* MenuAction;
    QMenu* MenuTools;
    QMenu* MenuHelp;
    QAction* MenuItemExit;
    QAction* MenuItemUndo;
    QAction* MenuItemCut;
    QAction* MenuItemCopy;
    QAction* MenuItemPaste;
    QAction* MenuItemSelectAll;
    QAction* MenuItemFind;
    QAction* MenuItemStart;
    QAction* MenuItemStop;
    QAction* MenuItemPause;
    QAction* MenuItemResume;
    QAction* MenuItemReset;
    QMenu* MenuItemLogBuffer;
    QMenu* MMenuItemSize;
    QAction* MMenuItem32KB;
    QAction* MMenuItem128KB;
    QAction* MMenuItem512KB;
    QAction* MMenuItem2MB;
    QAction* MMenuItemUnlimited;
    QMenu* MMenuItemDetail;
    QAction* MMenuItemLow;
    QAction* MMenuItemMedium;
    QAction* MMenuItemHigh;
    QAction* MMenuItemClear;
    QAction* MenuItemHexOnly;
    QAction* MenuItemOptions;
    QAction* MenuItemConditions;
    QAction* MenuItemContents;
    QAction* MenuItemHomePage;
    QAction* MenuItemAbout;

    QMenu* PopupMenu1;
    QAction* MenuCopy;
    QAction* MenuSelectAll;
    QMenu* MenuSize;
    QAction* MenuItem32KB;
    QAction* MenuItem128KB;
    QAction* MenuItem512KB;
    QAction* MenuItem2MB;
    QAction* MenuItemUnlimited;
    QMenu* MenuDetail;
    QAction* MenuLow;
    QAction* MenuMedium;
    QAction* MenuHigh;
    QAction* MenuClear;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // Layout and menus (form1_layout.cpp, form1_menus.cpp).
    void BuildToolbar();
    void BuildParameters();
    void BuildCommandsAndCounters();
    // Gives a counter label the width its text needs (form1_layout.cpp).
    void FitCounter(QLabel* label);
    void BuildConditionsIndicator();
    void BuildLogBufferArea(QWidget* central);
    void BuildStatusBar();
    void BuildMainMenu();
    void BuildViewMenu();
    void BuildConnectionsPane();
    // The pane's settings text ("shown=1;beside=0;sizes=...;columns=...") and back.
    std::string ConnectionsPaneText() const;
    void RestoreConnectionsPane(const std::string& text);
    void BuildPopupMenu();
    void SetTabOrder();
    void ShowPopupMenu(const QPoint& globalPos);
    void SetStartIsDefault(bool isDefault);
    void SetEditsReadOnly(bool readOnly);
    // Dismisses the popup menus and modal boxes in front of the window, innermost first, so
    // that their own event loops end and nothing waits for an answer any more.
    void DismissModalWidgets();

    std::unique_ptr<control::RelayControl> control_;
    THelpViewer* helpViewer_ = nullptr;              // owned as a child, made on first use
    TConditionsDialog* conditionsDialog_ = nullptr;  // the same
    bool clipboardHasText_ = false;
    bool activated_ = false;
    bool centred_ = false;
    bool closeForced_ = false;        // CloseWindow ran: the close waits for no answer
    bool connectionViewSet_ = false;  // the pane has been shown: the relay reports to it
    // Start refused the Listen Address: the Options dialog opens on its box after the error.
    bool focusListenAddress_ = false;
};

}  // namespace corvane::ui
