// TForm1's main menu and the Log Buffer's context menu, and the check marks of their Size
// and Detail items, which the two menus always show together.
#include <QActionGroup>
#include <QMenu>
#include <QMenuBar>

#include "log/traffic_log.h"
#include "ui/form1.h"
#include "ui/hints.h"
#include "ui/log_buffer_view.h"

namespace corvane::ui {

namespace {

QAction* AddItem(QMenu* menu, const char* name, const char* caption, const char* hint) {
    QAction* action = menu->addAction(QString::fromLatin1(caption));
    action->setObjectName(QString::fromLatin1(name));
    if (hint != nullptr) {
        SetHint(*action, QString::fromLatin1(hint));
    }
    return action;
}

QMenu* AddSubmenu(QMenu* menu, const char* name, const char* caption, const char* hint) {
    QMenu* sub = menu->addMenu(QString::fromLatin1(caption));
    sub->setObjectName(QString::fromLatin1(name));
    if (hint != nullptr) {
        SetHint(*sub->menuAction(), QString::fromLatin1(hint));
    }
    return sub;
}

void SetTag(QAction* action, int tag) {
    action->setProperty("Tag", tag);
}

struct SizeItem {
    const char* mainName;
    const char* popupName;
    const char* caption;
    std::int32_t tag;
};
constexpr SizeItem kSizeItems[] = {
    {"MMenuItem32KB", "MenuItem32KB", "&32 KB", log::kBufferSize32KB},
    {"MMenuItem128KB", "MenuItem128KB", "&128 KB", log::kBufferSize128KB},
    {"MMenuItem512KB", "MenuItem512KB", "&512 KB", log::kBufferSize512KB},
    {"MMenuItem2MB", "MenuItem2MB", "&2 MB", log::kBufferSize2MB},
    {"MMenuItemUnlimited", "MenuItemUnlimited", "&Unlimited", log::kUnlimited},
};
struct DetailItem {
    const char* mainName;
    const char* popupName;
    const char* caption;
    std::uint32_t tag;
};
constexpr DetailItem kDetailItems[] = {
    {"MMenuItemLow", "MenuLow", "&Low", log::kDetailLow},
    {"MMenuItemMedium", "MenuMedium", "&Medium", log::kDetailMedium},
    {"MMenuItemHigh", "MenuHigh", "&High", log::kDetailHigh},
};

}  // namespace

void TForm1::BuildMainMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    const auto onClick = [this](QAction* action) {
        connect(action, &QAction::triggered, this, [this, action] { OnClick(action); });
        return action;
    };

    MenuFile = bar->addMenu(QStringLiteral("&File"));
    MenuFile->setObjectName(QStringLiteral("MenuFile"));
    MenuItemExit = onClick(AddItem(MenuFile, "MenuItemExit", "E&xit", "Quits the application"));

    MenuEdit = bar->addMenu(QStringLiteral("&Edit"));
    MenuEdit->setObjectName(QStringLiteral("MenuEdit"));
    MenuItemUndo = onClick(AddItem(MenuEdit, "MenuItemUndo", "&Undo", "Reverses the last action"));
    MenuEdit->addSeparator();
    MenuItemCut = onClick(AddItem(MenuEdit, "MenuItemCut", "Cu&t",
                                  "Cuts the selection and puts it on the Clipboard"));
    MenuItemCopy = onClick(AddItem(MenuEdit, "MenuItemCopy", "&Copy",
                                   "Copies the selection and puts it on the Clipboard"));
    MenuItemPaste =
        onClick(AddItem(MenuEdit, "MenuItemPaste", "&Paste", "Inserts Clipboard contents"));
    MenuItemSelectAll = onClick(
        AddItem(MenuEdit, "MenuItemSelectAll", "Select A&ll", "Selects the entire contents"));
    SetTag(MenuItemUndo, 0);
    SetTag(MenuItemCut, 1);
    SetTag(MenuItemCopy, 2);
    SetTag(MenuItemPaste, 3);
    SetTag(MenuItemSelectAll, 5);
    MenuItemUndo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    MenuItemCut->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    MenuItemCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    MenuItemPaste->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    MenuItemSelectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    MenuEdit->addSeparator();
    MenuItemFind =
        onClick(AddItem(MenuEdit, "MenuItemFind", "&Find...", "Finds text in the Log Buffer"));
    MenuItemFind->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));

    MenuAction = bar->addMenu(QStringLiteral("&Action"));
    MenuAction->setObjectName(QStringLiteral("MenuAction"));
    MenuItemStart = onClick(
        AddItem(MenuAction, "MenuItemStart", "&Start", "Open Local Port to allow connections"));
    MenuItemStop =
        onClick(AddItem(MenuAction, "MenuItemStop", "S&top", "Close Local Port and connections"));
    MenuItemPause = onClick(AddItem(MenuAction, "MenuItemPause", "&Pause",
                                    "Temporarily discontinue transferring data"));
    MenuItemResume =
        onClick(AddItem(MenuAction, "MenuItemResume", "&Resume", "Continue transferring data"));
    MenuItemReset =
        onClick(AddItem(MenuAction, "MenuItemReset", "R&eset", "Reset Transferred counts to 0"));
    for (QAction* item : {MenuItemStop, MenuItemPause, MenuItemResume, MenuItemReset}) {
        item->setEnabled(false);
    }

    MenuTools = bar->addMenu(QStringLiteral("&Tools"));
    MenuTools->setObjectName(QStringLiteral("MenuTools"));
    MenuItemLogBuffer =
        AddSubmenu(MenuTools, "MenuItemLogBuffer", "Log &Buffer", "Log Buffer Options");
    MMenuItemSize = AddSubmenu(MenuItemLogBuffer, "MMenuItemSize", "&Size",
                               "Maximum number of characters to keep in Log Buffer");
    QAction** mainSize[] = {&MMenuItem32KB, &MMenuItem128KB, &MMenuItem512KB, &MMenuItem2MB,
                            &MMenuItemUnlimited};
    auto* sizeGroup = new QActionGroup(this);
    for (std::size_t i = 0; i < std::size(kSizeItems); ++i) {
        QAction* item =
            AddItem(MMenuItemSize, kSizeItems[i].mainName, kSizeItems[i].caption, nullptr);
        item->setCheckable(true);
        item->setActionGroup(sizeGroup);
        SetTag(item, kSizeItems[i].tag);
        connect(item, &QAction::triggered, this, [this, item] { SetBufferSize(item); });
        *mainSize[i] = item;
    }
    MMenuItemDetail = AddSubmenu(MenuItemLogBuffer, "MMenuItemDetail", "&Detail",
                                 "Type of messages to show in Log Buffer; all written to Log File");
    QAction** mainDetail[] = {&MMenuItemLow, &MMenuItemMedium, &MMenuItemHigh};
    auto* detailGroup = new QActionGroup(this);
    for (std::size_t i = 0; i < std::size(kDetailItems); ++i) {
        QAction* item =
            AddItem(MMenuItemDetail, kDetailItems[i].mainName, kDetailItems[i].caption, nullptr);
        item->setCheckable(true);
        item->setActionGroup(detailGroup);
        SetTag(item, static_cast<int>(kDetailItems[i].tag));
        connect(item, &QAction::triggered, this, [this, item] { SetShowData(item); });
        *mainDetail[i] = item;
    }
    MMenuItemClear = onClick(
        AddItem(MenuItemLogBuffer, "MMenuItemClear", "Cl&ear", "Clear contents of Log Buffer"));
    MenuItemHexOnly = onClick(AddItem(MenuTools, "MenuItemHexOnly", "&Hex Only",
                                      "The data will only be displayed in Hex"));
    MenuItemHexOnly->setCheckable(true);
    MenuTools->addSeparator();
    MenuItemOptions = onClick(AddItem(MenuTools, "MenuItemOptions", "&Options...",
                                      "Options that the Parameters do not show"));
    MenuItemConditions =
        onClick(AddItem(MenuTools, "MenuItemConditions", "Network &Conditions...",
                        "Make the relay a slow, thin or breaking network on purpose"));

    MenuHelp = bar->addMenu(QStringLiteral("&Help"));
    MenuHelp->setObjectName(QStringLiteral("MenuHelp"));
    MenuItemContents =
        onClick(AddItem(MenuHelp, "MenuItemContents", "&Contents",
                        "Displays the table of contents for the online documentation"));
    MenuHelp->addSeparator();
    MenuItemHomePage = onClick(
        AddItem(MenuHelp, "MenuItemHomePage", "&Corvane Home Page", "Visit Corvane's home page"));
    MenuHelp->addSeparator();
    MenuItemAbout = onClick(AddItem(MenuHelp, "MenuItemAbout", "&About...",
                                    "Display program information and version number "));
}

void TForm1::BuildPopupMenu() {
    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    const auto onClick = [this](QAction* action) {
        connect(action, &QAction::triggered, this, [this, action] { OnClick(action); });
        return action;
    };
    MenuCopy = onClick(AddItem(PopupMenu1, "MenuCopy", "&Copy",
                               "Copies the selection and puts it on the Clipboard"));
    MenuSelectAll =
        onClick(AddItem(PopupMenu1, "MenuSelectAll", "Select A&ll", "Selects the entire contents"));
    // Shown in the menu; the view itself takes these keys while it has the focus.
    MenuCopy->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    MenuSelectAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    MenuCopy->setShortcutContext(Qt::WidgetShortcut);
    MenuSelectAll->setShortcutContext(Qt::WidgetShortcut);
    PopupMenu1->addSeparator();

    MenuSize = AddSubmenu(PopupMenu1, "MenuSize", "&Size", nullptr);
    QAction** popupSize[] = {&MenuItem32KB, &MenuItem128KB, &MenuItem512KB, &MenuItem2MB,
                             &MenuItemUnlimited};
    auto* sizeGroup = new QActionGroup(this);
    for (std::size_t i = 0; i < std::size(kSizeItems); ++i) {
        QAction* item = AddItem(MenuSize, kSizeItems[i].popupName, kSizeItems[i].caption, nullptr);
        item->setCheckable(true);
        item->setActionGroup(sizeGroup);
        SetTag(item, kSizeItems[i].tag);
        connect(item, &QAction::triggered, this, [this, item] { SetBufferSize(item); });
        *popupSize[i] = item;
    }
    MenuDetail = AddSubmenu(PopupMenu1, "MenuDetail", "&Detail", nullptr);
    QAction** popupDetail[] = {&MenuLow, &MenuMedium, &MenuHigh};
    auto* detailGroup = new QActionGroup(this);
    for (std::size_t i = 0; i < std::size(kDetailItems); ++i) {
        QAction* item =
            AddItem(MenuDetail, kDetailItems[i].popupName, kDetailItems[i].caption, nullptr);
        item->setCheckable(true);
        item->setActionGroup(detailGroup);
        SetTag(item, static_cast<int>(kDetailItems[i].tag));
        connect(item, &QAction::triggered, this, [this, item] { SetShowData(item); });
        *popupDetail[i] = item;
    }
    MenuClear = onClick(AddItem(PopupMenu1, "MenuClear", "Cl&ear", "Clear contents of Log Buffer"));
    connect(PopupMenu1, &QMenu::aboutToShow, this, &TForm1::OnPopup);
}

void TForm1::ShowPopupMenu(const QPoint& globalPos) {
    PopupMenu1->popup(globalPos);
}

void TForm1::OnPopup() {
    MenuCopy->setEnabled(Memo1->HasSelection());
    MenuSelectAll->setEnabled(Memo1->HasText());
}

void TForm1::SetBufferSize(QObject* sender) {
    control_->Log().SetBufferSize(sender->property("Tag").toInt());
}

void TForm1::SetShowData(QObject* sender) {
    control_->Log().SetShowData(static_cast<std::uint32_t>(sender->property("Tag").toInt()));
}

void TForm1::CheckBufferSize(std::int32_t value) {
    QAction* pairs[][2] = {{MMenuItem32KB, MenuItem32KB},
                           {MMenuItem128KB, MenuItem128KB},
                           {MMenuItem512KB, MenuItem512KB},
                           {MMenuItem2MB, MenuItem2MB},
                           {MMenuItemUnlimited, MenuItemUnlimited}};
    for (std::size_t i = 0; i < std::size(kSizeItems); ++i) {
        const bool on = kSizeItems[i].tag == value;
        pairs[i][0]->setChecked(on);
        pairs[i][1]->setChecked(on);
    }
}

void TForm1::CheckDetail(std::uint32_t level) {
    QAction* pairs[][2] = {
        {MMenuItemLow, MenuLow}, {MMenuItemMedium, MenuMedium}, {MMenuItemHigh, MenuHigh}};
    const std::uint32_t shown = level > log::kDetailHigh ? log::kDetailHigh : level;
    for (std::size_t i = 0; i < std::size(kDetailItems); ++i) {
        const bool on = kDetailItems[i].tag == shown;
        pairs[i][0]->setChecked(on);
        pairs[i][1]->setChecked(on);
    }
}

}  // namespace corvane::ui
