// TForm1's controls: the toolbar, the parameters, the command buttons and counters, the Log
// Buffer with its margins and the status bar, each at its design position and size.
#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QToolButton>
#include <algorithm>

#include "control/settings.h"
#include "ui/find_bar.h"
#include "ui/form1.h"
#include "ui/glyphs.h"
#include "ui/hints.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui {

namespace {

// Widgets made here are owned by their Qt parents.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* label = new QLabel(text, parent);
    if (name != nullptr) {
        label->setObjectName(QString::fromLatin1(name));
    }
    label->move(x, y);
    label->adjustSize();
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, QRect rect, std::size_t maxLength) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setGeometry(rect);
    edit->setMaxLength(static_cast<int>(maxLength));
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, QRect rect) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(rect);
    // Enter on a focused button presses it, as Enter elsewhere presses the default button.
    button->setAutoDefault(true);
    return button;
}

// The counters' column: right-aligned labels whose right edge is at 585, and the first
// column free of the captions' text ("Transferred:" and the others end before it).
constexpr int kCounterLeft = 535;
constexpr int kCounterWidth = 50;
constexpr int kCounterHeight = 13;
constexpr int kCaptionsEnd = 530;

QLabel* MakeCounter(QWidget* parent, const char* name, int y) {
    auto* label = new QLabel(QStringLiteral("0"), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setGeometry(kCounterLeft, y, kCounterWidth, kCounterHeight);
    return label;
}

QFrame* MakePanel(QWidget* parent, const char* name, bool bevel) {
    auto* panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    if (bevel) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Raised);
    }
    return panel;
}

}  // namespace

TForm1::TForm1() {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Corvane"));
    setWindowIcon(AppIcon());
    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Central"));
    setCentralWidget(central);
    auto* column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    Panel2 = MakePanel(central, "Panel2", true);
    Panel2->setFixedHeight(31);
    Panel3 = MakePanel(central, "Panel3", false);
    Panel3->setFixedHeight(155);
    column->addWidget(Panel2);
    column->addWidget(Panel3);

    BuildToolbar();
    BuildParameters();
    BuildCommandsAndCounters();
    BuildLogBufferArea(central);
    BuildStatusBar();
    BuildConditionsIndicator();
    BuildMainMenu();
    BuildViewMenu();
    BuildPopupMenu();
    // A closed menu has no highlighted item: its hint leaves panel 0.
    for (QMenu* menu : findChildren<QMenu*>()) {
        connect(menu, &QMenu::aboutToHide, this, [this] { ShowLongHint(QString()); });
    }
    SetTabOrder();
    resize(control::kDesignWidth, control::kDesignHeight);

    QClipboard* clipboard = QGuiApplication::clipboard();
    const auto readClipboard = [this, clipboard] {
        const QMimeData* mime = clipboard->mimeData();
        clipboardHasText_ = mime != nullptr && mime->hasText() && !mime->text().isEmpty();
    };
    readClipboard();
    // Cached so that the idle handler never has to ask the clipboard's owner.
    connect(clipboard, &QClipboard::dataChanged, this, readClipboard);

    control_ = std::make_unique<control::RelayControl>(*this, *this, Memo1, this);
}

void TForm1::BuildToolbar() {
    const auto make = [this](const char* name, Glyph glyph, int x, int tag, const char* hint) {
        auto* button = new QToolButton(Panel2);
        button->setObjectName(QString::fromLatin1(name));
        button->setGeometry(x, 3, 25, 25);
        button->setIcon(GlyphIcon(glyph));
        button->setIconSize(GlyphSize(glyph));
        button->setFocusPolicy(Qt::NoFocus);
        button->setProperty("Tag", tag);
        SetHint(*button, QString::fromLatin1(hint));
        connect(button, &QToolButton::clicked, this, [this, button] { OnClick(button); });
        return button;
    };
    SpeedButtonCut = make("SpeedButtonCut", Glyph::Cut, 5, 1,
                          "Cut|Cuts the selection and puts it on the Clipboard");
    SpeedButtonCopy = make("SpeedButtonCopy", Glyph::Copy, 30, 2,
                           "Copy|Copies the selection and puts it on the Clipboard");
    SpeedButtonPaste =
        make("SpeedButtonPaste", Glyph::Paste, 55, 3, "Paste|Inserts Clipboard contents");
    SpeedButtonStart = make("SpeedButtonStart", Glyph::Start, 85, 0,
                            "Start|Open Local Port to allow a Client to connect");
    SpeedButtonStop = make("SpeedButtonStop", Glyph::Stop, 110, 0,
                           "Stop|Close Local Port and disconnect from Client and Server");
    SpeedButtonPause =
        make("SpeedButtonPause", Glyph::Pause, 135, 0,
             "Pause|Temporarily discontinue transferring data between Client and Server");
    SpeedButtonPause->setCheckable(true);
    SpeedButtonStop->setEnabled(false);
    SpeedButtonPause->setEnabled(false);
}

void TForm1::BuildParameters() {
    GroupBox1 = new QGroupBox(QStringLiteral("&Parameters"), Panel3);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(10, 10, 331, 121);

    Label1 = MakeLabel(GroupBox1, "Label1", QStringLiteral("&Remote Host:"), 15, 20);
    Label2 = MakeLabel(GroupBox1, "Label2", QStringLiteral("Remote &Port:"), 170, 20);
    Label3 = MakeLabel(GroupBox1, "Label3", QStringLiteral("&Local Port:"), 250, 20);
    Label4 = MakeLabel(GroupBox1, "Label4", QStringLiteral("Log F&ile:"), 15, 65);
    EditRemoteHost =
        MakeEdit(GroupBox1, "EditRemoteHost", QRect(15, 35, 140, 21), control::kRemoteHostLimit);
    EditRemotePort =
        MakeEdit(GroupBox1, "EditRemotePort", QRect(170, 35, 65, 21), control::kRemotePortLimit);
    EditLocalPort =
        MakeEdit(GroupBox1, "EditLocalPort", QRect(250, 35, 65, 21), control::kLocalPortLimit);
    EditLogFile =
        MakeEdit(GroupBox1, "EditLogFile", QRect(15, 80, 220, 21), control::kLogFileLimit);
    Label1->setBuddy(EditRemoteHost);
    Label2->setBuddy(EditRemotePort);
    Label3->setBuddy(EditLocalPort);
    Label4->setBuddy(EditLogFile);

    ButtonBrowse =
        MakeButton(GroupBox1, "ButtonBrowse", QStringLiteral("&Browse..."), QRect(240, 80, 75, 25));
    connect(ButtonBrowse, &QPushButton::clicked, this, [this] { OnClick(ButtonBrowse); });
}

void TForm1::BuildCommandsAndCounters() {
    const auto make = [this](const char* name, const char* caption, int y, const char* hint) {
        QPushButton* button =
            MakeButton(Panel3, name, QString::fromLatin1(caption), QRect(360, y, 75, 25));
        SetHint(*button, QString::fromLatin1(hint));
        connect(button, &QPushButton::clicked, this, [this, button] { OnClick(button); });
        return button;
    };
    ButtonStart = make("ButtonStart", "&Start", 15, "|Open Local Port to allow connections");
    ButtonStop = make("ButtonStop", "St&op", 45, "|Close Local Port and connections");
    ButtonPause = make("ButtonPause", "P&ause", 75, "|Temporarily discontinue transferring data");
    ButtonResume = make("ButtonResume", "Res&ume", 105, "|Continue transferring data");
    ButtonStop->setEnabled(false);
    ButtonPause->setEnabled(false);
    ButtonResume->setEnabled(false);
    SetStartIsDefault(true);

    MakeLabel(Panel3, nullptr, QStringLiteral("Connections:"), 455, 15);
    MakeLabel(Panel3, nullptr, QStringLiteral("Client to Server"), 455, 35);
    MakeLabel(Panel3, nullptr, QStringLiteral("Transferred:"), 460, 50);
    MakeLabel(Panel3, nullptr, QStringLiteral("Buffered:"), 460, 65);
    MakeLabel(Panel3, nullptr, QStringLiteral("Server to Client"), 455, 85);
    MakeLabel(Panel3, nullptr, QStringLiteral("Transferred:"), 460, 100);
    MakeLabel(Panel3, nullptr, QStringLiteral("Buffered:"), 460, 115);
    LabelConns = MakeCounter(Panel3, "LabelConns", 15);
    LabelCSTrans = MakeCounter(Panel3, "LabelCSTrans", 50);
    LabelCSBuf = MakeCounter(Panel3, "LabelCSBuf", 65);
    LabelSCTrans = MakeCounter(Panel3, "LabelSCTrans", 100);
    LabelSCBuf = MakeCounter(Panel3, "LabelSCBuf", 115);

    Label5 = MakeLabel(Panel3, "Label5", QStringLiteral("Lo&g Buffer:"), 10, 140);
}

void TForm1::FitCounter(QLabel* label) {
    // A count too wide for its label (ten million and up in most fonts) would lose its
    // leading digits. It grows to the left as far as the captions allow, then to the right
    // up to the panel's edge; a short count goes back to the designed place.
    const int needed = label->fontMetrics().horizontalAdvance(label->text()) + 2;
    const int y = label->y();
    if (needed <= kCounterWidth) {
        label->setGeometry(kCounterLeft, y, kCounterWidth, kCounterHeight);
        return;
    }
    int right = kCounterLeft + kCounterWidth;
    if (right - needed < kCaptionsEnd) {
        right = std::max(right, std::min(Panel3->width() - 2, kCaptionsEnd + needed));
    }
    label->setGeometry(right - needed, y, needed, kCounterHeight);
}

void TForm1::BuildLogBufferArea(QWidget* central) {
    auto* column = static_cast<QVBoxLayout*>(central->layout());
    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    Panel1 = MakePanel(central, "Panel1", false);
    Panel1->setFixedWidth(10);
    Panel4 = MakePanel(central, "Panel4", false);
    Panel4->setFixedWidth(10);
    Panel5 = MakePanel(central, "Panel5", false);
    Panel5->setFixedHeight(10);
    // The Log Buffer shares a splitter with the Connections pane, which is hidden until shown.
    LogSplitter = new QSplitter(Qt::Vertical, central);
    LogSplitter->setObjectName(QStringLiteral("LogSplitter"));
    Memo1 = new TLogBufferView(LogSplitter);
    LogSplitter->addWidget(Memo1);
    Label5->setBuddy(Memo1);
    connect(Memo1, &TLogBufferView::ContextMenuRequested, this, &TForm1::ShowPopupMenu);
    BuildConnectionsPane();
    row->addWidget(Panel1);
    row->addWidget(LogSplitter, 1);
    row->addWidget(Panel4);
    column->addLayout(row, 1);
    // Hidden until Find: while open it takes its height from the view, above the margin.
    FindBar = new TFindBar(central, Memo1);
    column->addWidget(FindBar);
    column->addWidget(Panel5);
}

void TForm1::BuildStatusBar() {
    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setFixedHeight(19);
    const int widths[3] = {341, 88, 100};
    for (int i = 0; i < 3; ++i) {
        auto* panel = new QLabel(bar);
        panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
        panel->setContentsMargins(2, 0, 2, 0);
        if (i == 0) {
            // The hint panel takes the width the other two leave, so that a wider window
            // shows more of a long hint; it never gets narrower than designed.
            panel->setMinimumWidth(widths[i]);
            bar->addWidget(panel, 1);
        } else {
            panel->setFixedWidth(widths[i]);
            bar->addWidget(panel);
        }
        StatusPanel[i] = panel;
    }
    StatusPanel[2]->setText(QStringLiteral("Stopped"));
}

void TForm1::SetTabOrder() {
    QWidget* order[] = {EditRemoteHost, EditRemotePort, EditLocalPort, EditLogFile,  ButtonBrowse,
                        ButtonStart,    ButtonStop,     ButtonPause,   ButtonResume, Memo1};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i) {
        setTabOrder(order[i], order[i + 1]);
    }
}

void TForm1::SetStartIsDefault(bool isDefault) {
    ButtonStart->setDefault(isDefault);
}

void TForm1::SetEditsReadOnly(bool readOnly) {
    // Read-only boxes take the button face's colour, editable ones the window colour.
    for (QLineEdit* edit : {EditRemoteHost, EditRemotePort, EditLocalPort, EditLogFile}) {
        edit->setReadOnly(readOnly);
        QPalette palette = edit->palette();
        const QPalette standard = QApplication::palette(edit);
        palette.setColor(QPalette::Base, readOnly ? standard.color(QPalette::Button)
                                                  : standard.color(QPalette::Base));
        edit->setPalette(palette);
    }
}

}  // namespace corvane::ui
