// The Connections pane: a filter box with the counts of shown and total rows, the table of
// Connections (TConnectionModel through TConnectionFilter) and the line of older ones not
// listed. Its context menu and keys act on the selected rows: Show Only Selected (also a
// double click and Enter), Show All (Escape), Follow... (Ctrl+Enter), Close (Delete), Reset
// (Shift+Delete) and Copy (Ctrl+C). The pane only asks; the window does (the Log Buffer's
// filter, the engine's Close and Reset, the Follow window).
#pragma once

#include <QTableView>
#include <QWidget>
#include <vector>

#include "log/connection_serial.h"

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QTimer;

namespace corvane::ui {

class TConnectionFilter;
class TConnectionModel;

// The table takes its own keys before the window's shortcuts (Ctrl+C copies rows here).
class TConnectionTable final : public QTableView {
    Q_OBJECT
public:
    explicit TConnectionTable(QWidget* parent);

Q_SIGNALS:
    void KeyCommand(int key, Qt::KeyboardModifiers modifiers);

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

class TConnectionsPane final : public QWidget {
    Q_OBJECT
public:
    explicit TConnectionsPane(QWidget* parent);

    TConnectionModel& Model() { return *model_; }
    TConnectionFilter& Filter() { return *filter_; }

    // The serials of the selected rows, newest first as shown.
    std::vector<log::ConnectionSerial> SelectedSerials() const;
    // The selected rows as text: the column titles, then a line per row, tab-separated.
    QString SelectedText() const;
    // Puts SelectedText on the clipboard.
    void CopySelected();
    // The counts line ("3 of 12 shown").
    QString CountsText() const;

    // The widths of the columns, for the settings ("60,140,..."), and back.
    QString ColumnWidths() const;
    void SetColumnWidths(const QString& widths);

    QLineEdit* EditFilter;
    QLabel* LabelCounts;
    TConnectionTable* Table;
    QLabel* LabelOlder;
    QMenu* PopupMenu;
    QAction* MenuShowOnlySelected;
    QAction* MenuShowAll;
    QAction* MenuFollow;
    QAction* MenuCloseConnection;
    QAction* MenuResetConnection;
    QAction* MenuCopyRows;

Q_SIGNALS:
    void ShowOnlySelected(const std::vector<log::ConnectionSerial>& serials);
    void ShowAll();
    void Follow(log::ConnectionSerial serial);
    void CloseConnections(const std::vector<log::ConnectionSerial>& serials);
    void ResetConnections(const std::vector<log::ConnectionSerial>& serials);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void UpdateCounts();
    void UpdateActions();
    void OnKey(int key, Qt::KeyboardModifiers modifiers);
    void Trigger(QAction* action);

    TConnectionModel* model_;
    TConnectionFilter* filter_;
    QTimer* durationTimer_;
};

}  // namespace corvane::ui
