#include "ui/connections_pane.h"

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTimer>
#include <algorithm>

#include "ui/connection_model.h"

namespace corvane::ui {

namespace {

// A running duration is shown again this often while the pane is shown.
constexpr int kDurationRefreshMs = 1000;

bool IsCopy(const QKeyEvent* key) {
    return key->matches(QKeySequence::Copy);
}

}  // namespace

TConnectionTable::TConnectionTable(QWidget* parent) : QTableView(parent) {
    setObjectName(QStringLiteral("TableConnections"));
}

bool TConnectionTable::event(QEvent* event) {
    // Ctrl+C and Delete are the window's shortcuts too: here they act on the rows.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (IsCopy(key) || key->key() == Qt::Key_Delete || key->key() == Qt::Key_Return ||
            key->key() == Qt::Key_Enter || key->key() == Qt::Key_Escape) {
            event->accept();
            return true;
        }
    }
    return QTableView::event(event);
}

void TConnectionTable::keyPressEvent(QKeyEvent* event) {
    if (IsCopy(event)) {
        Q_EMIT KeyCommand(Qt::Key_C, Qt::ControlModifier);
        event->accept();
        return;
    }
    switch (event->key()) {
        case Qt::Key_Delete:
        case Qt::Key_Return:
        case Qt::Key_Enter:
        case Qt::Key_Escape:
            Q_EMIT KeyCommand(event->key(), event->modifiers() & ~Qt::KeypadModifier);
            event->accept();
            return;
        default:
            QTableView::keyPressEvent(event);
    }
}

TConnectionsPane::TConnectionsPane(QWidget* parent)
    : QWidget(parent),
      model_(new TConnectionModel(this)),
      filter_(new TConnectionFilter(this)),
      durationTimer_(new QTimer(this)) {
    setObjectName(QStringLiteral("PaneConnections"));
    filter_->setSourceModel(model_);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto* top = new QHBoxLayout;
    top->setContentsMargins(0, 0, 0, 0);
    EditFilter = new QLineEdit(this);
    EditFilter->setObjectName(QStringLiteral("EditConnectionsFilter"));
    EditFilter->setPlaceholderText(QStringLiteral("Filter: No., address or state"));
    EditFilter->setClearButtonEnabled(true);
    LabelCounts = new QLabel(this);
    LabelCounts->setObjectName(QStringLiteral("LabelConnectionCounts"));
    top->addWidget(EditFilter, 1);
    top->addWidget(LabelCounts);
    column->addLayout(top);

    Table = new TConnectionTable(this);
    Table->setModel(filter_);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setWordWrap(false);
    Table->verticalHeader()->hide();
    Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 4);
    Table->horizontalHeader()->setHighlightSections(false);
    Table->horizontalHeader()->setStretchLastSection(true);
    // Newest first as the relay lists them, until a column's title is clicked.
    Table->horizontalHeader()->setSortIndicator(-1, Qt::DescendingOrder);
    Table->setSortingEnabled(true);
    Table->setContextMenuPolicy(Qt::CustomContextMenu);
    const int widths[kColumnCount] = {40, 130, 130, 90, 90, 70, 80, 80, 70, 60, 80};
    for (int i = 0; i < kColumnCount; ++i) {
        Table->setColumnWidth(i, widths[i]);
    }
    column->addWidget(Table, 1);

    LabelOlder = new QLabel(this);
    LabelOlder->setObjectName(QStringLiteral("LabelOlderConnections"));
    LabelOlder->hide();
    column->addWidget(LabelOlder);

    PopupMenu = new QMenu(this);
    PopupMenu->setObjectName(QStringLiteral("PopupMenuConnections"));
    const auto add = [this](const char* name, const QString& caption, const QKeySequence& keys) {
        QAction* action = PopupMenu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        action->setShortcut(keys);
        // Shown in the menu; the table takes the keys itself.
        action->setShortcutContext(Qt::WidgetShortcut);
        return action;
    };
    MenuShowOnlySelected = add("MenuShowOnlySelected", QStringLiteral("Show &Only Selected"),
                               QKeySequence(Qt::Key_Return));
    MenuShowAll = add("MenuShowAll", QStringLiteral("Show &All"), QKeySequence(Qt::Key_Escape));
    PopupMenu->addSeparator();
    MenuFollow =
        add("MenuFollow", QStringLiteral("&Follow..."), QKeySequence(Qt::CTRL | Qt::Key_Return));
    PopupMenu->addSeparator();
    MenuCloseConnection =
        add("MenuCloseConnection", QStringLiteral("&Close"), QKeySequence(Qt::Key_Delete));
    MenuResetConnection = add("MenuResetConnection", QStringLiteral("&Reset"),
                              QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    PopupMenu->addSeparator();
    MenuCopyRows = add("MenuCopyRows", QStringLiteral("Co&py"), QKeySequence::Copy);

    connect(MenuShowOnlySelected, &QAction::triggered, this,
            [this] { Q_EMIT ShowOnlySelected(SelectedSerials()); });
    connect(MenuShowAll, &QAction::triggered, this, [this] { Q_EMIT ShowAll(); });
    connect(MenuFollow, &QAction::triggered, this, [this] {
        const std::vector<log::ConnectionSerial> serials = SelectedSerials();
        if (!serials.empty()) {
            Q_EMIT Follow(serials.front());
        }
    });
    connect(MenuCloseConnection, &QAction::triggered, this,
            [this] { Q_EMIT CloseConnections(SelectedSerials()); });
    connect(MenuResetConnection, &QAction::triggered, this,
            [this] { Q_EMIT ResetConnections(SelectedSerials()); });
    connect(MenuCopyRows, &QAction::triggered, this, &TConnectionsPane::CopySelected);

    connect(Table, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) {
        UpdateActions();
        PopupMenu->popup(Table->viewport()->mapToGlobal(at));
    });
    connect(Table, &QAbstractItemView::doubleClicked, this,
            [this] { Trigger(MenuShowOnlySelected); });
    connect(Table, &TConnectionTable::KeyCommand, this, &TConnectionsPane::OnKey);
    connect(EditFilter, &QLineEdit::textChanged, this, [this](const QString& text) {
        filter_->SetFilterText(text);
        UpdateCounts();
    });
    connect(model_, &TConnectionModel::RowsChanged, this, &TConnectionsPane::UpdateCounts);
    connect(filter_, &QAbstractItemModel::rowsInserted, this, &TConnectionsPane::UpdateCounts);
    connect(filter_, &QAbstractItemModel::rowsRemoved, this, &TConnectionsPane::UpdateCounts);
    connect(durationTimer_, &QTimer::timeout, model_, &TConnectionModel::RefreshDurations);
    durationTimer_->setInterval(kDurationRefreshMs);
    UpdateCounts();
}

void TConnectionsPane::OnKey(int key, Qt::KeyboardModifiers modifiers) {
    UpdateActions();
    switch (key) {
        case Qt::Key_C:
            Trigger(MenuCopyRows);
            break;
        case Qt::Key_Delete:
            Trigger(modifiers & Qt::ShiftModifier ? MenuResetConnection : MenuCloseConnection);
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            Trigger(modifiers & Qt::ControlModifier ? MenuFollow : MenuShowOnlySelected);
            break;
        case Qt::Key_Escape:
            Trigger(MenuShowAll);
            break;
        default:
            break;
    }
}

void TConnectionsPane::Trigger(QAction* action) {
    UpdateActions();
    if (action->isEnabled()) {
        action->trigger();
    }
}

void TConnectionsPane::UpdateActions() {
    const bool selected = Table->selectionModel()->hasSelection();
    bool live = false;
    if (selected) {
        for (const QModelIndex& index : Table->selectionModel()->selectedRows()) {
            live = live || !index.data(kEndedRole).toBool();
        }
    }
    MenuShowOnlySelected->setEnabled(selected);
    MenuFollow->setEnabled(selected);
    MenuCloseConnection->setEnabled(live);
    MenuResetConnection->setEnabled(live);
    MenuCopyRows->setEnabled(selected);
}

std::vector<log::ConnectionSerial> TConnectionsPane::SelectedSerials() const {
    QModelIndexList rows = Table->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<log::ConnectionSerial> serials;
    serials.reserve(static_cast<std::size_t>(rows.size()));
    for (const QModelIndex& index : rows) {
        serials.push_back(index.data(kSerialRole).toULongLong());
    }
    return serials;
}

QString TConnectionsPane::SelectedText() const {
    QModelIndexList rows = Table->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    if (rows.isEmpty()) {
        return {};
    }
    QStringList lines;
    QStringList fields;
    for (int c = 0; c < kColumnCount; ++c) {
        fields << filter_->headerData(c, Qt::Horizontal).toString();
    }
    lines << fields.join(QLatin1Char('\t'));
    for (const QModelIndex& index : rows) {
        fields.clear();
        for (int c = 0; c < kColumnCount; ++c) {
            fields << filter_->index(index.row(), c).data().toString();
        }
        lines << fields.join(QLatin1Char('\t'));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void TConnectionsPane::CopySelected() {
    const QString text = SelectedText();
    if (!text.isEmpty()) {
        QGuiApplication::clipboard()->setText(text);
    }
}

QString TConnectionsPane::CountsText() const {
    return QStringLiteral("%1 of %2 shown").arg(filter_->rowCount()).arg(model_->rowCount());
}

void TConnectionsPane::UpdateCounts() {
    LabelCounts->setText(CountsText());
    const std::int64_t older = model_->OlderNotListed();
    LabelOlder->setVisible(older > 0);
    if (older > 0) {
        LabelOlder->setText(QStringLiteral("%1 older Connection%2 not listed")
                                .arg(older)
                                .arg(older == 1 ? QString() : QStringLiteral("s")));
    }
}

QString TConnectionsPane::ColumnWidths() const {
    QStringList widths;
    for (int c = 0; c < kColumnCount; ++c) {
        widths << QString::number(Table->columnWidth(c));
    }
    return widths.join(QLatin1Char(','));
}

void TConnectionsPane::SetColumnWidths(const QString& widths) {
    const QStringList parts = widths.split(QLatin1Char(','));
    for (int c = 0; c < kColumnCount && c < parts.size(); ++c) {
        bool ok = false;
        const int width = parts[c].toInt(&ok);
        if (ok && width > 0 && width < 2000) {
            Table->setColumnWidth(c, width);
        }
    }
}

void TConnectionsPane::showEvent(QShowEvent* event) {
    durationTimer_->start();
    QWidget::showEvent(event);
}

void TConnectionsPane::hideEvent(QHideEvent* event) {
    durationTimer_->stop();
    QWidget::hideEvent(event);
}

}  // namespace corvane::ui
