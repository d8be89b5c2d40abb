// The Connections pane's rows: TConnectionModel keeps one row per Connection the relay
// reports (relay/connection_view.h), newest first, and TConnectionFilter sorts them and
// keeps those that match the pane's filter box.
//
// The model changes only when a batch arrives (at most once per 200 ms tick) and when the
// pane asks for a running duration to be shown again; it never looks at the relay itself.
// Ended rows stay until Clear or the next Start, the newest kMaxEndedRows of them: older ones
// go and are counted (OlderNotListed).
#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "relay/connection_view.h"

namespace corvane::ui {

enum ConnectionColumn : int {
    kColumnNumber,
    kColumnClient,
    kColumnServer,
    kColumnState,
    kColumnStarted,
    kColumnDuration,
    kColumnClientToServer,
    kColumnServerToClient,
    kColumnBuffered,
    kColumnTls,
    kColumnConditions,
    kColumnCount
};

// The role whose value sorts a column: numbers for the figures, texts for the others.
constexpr int kSortRole = Qt::UserRole;
// The row's serial (a qulonglong), in every column.
constexpr int kSerialRole = Qt::UserRole + 1;
// True for a row that has ended.
constexpr int kEndedRole = Qt::UserRole + 2;

class TConnectionModel final : public QAbstractTableModel, public relay::ConnectionView {
    Q_OBJECT
public:
    static constexpr std::size_t kMaxEndedRows = 10000;

    explicit TConnectionModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    void ShowConnections(const relay::ConnectionChanges& changes) override;

    // Every row goes (Start).
    void ClearAll();
    // The ended rows go, the live ones stay (the Log Buffer's Clear).
    void ClearEnded();
    // Asks the views to show the running durations of the live rows again.
    void RefreshDurations();

    // Ended rows dropped for the bound since the last clear.
    std::int64_t OlderNotListed() const { return olderNotListed_; }
    bool HasLiveRows() const { return liveRows_ > 0; }
    // The row of a serial, or null.
    const relay::ConnectionRow* Find(log::ConnectionSerial serial) const;
    bool StreamsDropped(log::ConnectionSerial serial) const;

Q_SIGNALS:
    // Rows came, went or changed (after the views have been told).
    void RowsChanged();

private:
    struct Row {
        relay::ConnectionRow row;
        std::chrono::steady_clock::time_point received;  // when its duration was reported
        bool streamsDropped = false;
    };
    // Rows are kept oldest first (serials increase with the accepts); model row r is
    // rows_[size - 1 - r], so the newest is on top.
    int ModelRow(std::size_t position) const {
        return static_cast<int>(rows_.size() - 1 - position);
    }
    const Row& At(int modelRow) const { return rows_[rows_.size() - 1 - modelRow]; }
    // The position of a serial in rows_, or rows_.size().
    std::size_t PositionOf(log::ConnectionSerial serial) const;
    QVariant Display(const Row& r, int column) const;
    QVariant SortKey(const Row& r, int column) const;
    // Removes the rows at the given positions (ascending), in ranges the views understand.
    void RemovePositions(const std::vector<std::size_t>& positions);
    void DropOldEnded();
    // A new row older than the newest, at its place by serial.
    void InsertInPlace(Row row);

    std::deque<Row> rows_;
    std::size_t endedRows_ = 0;
    std::size_t liveRows_ = 0;
    std::int64_t olderNotListed_ = 0;
};

// The filter box's text: a number alone matches the No. exactly; any other text matches a
// row whose Client, Server or State contains it (case-insensitively). Empty matches all.
class TConnectionFilter final : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit TConnectionFilter(QObject* parent = nullptr);
    void SetFilterText(const QString& text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QString text_;
    bool isNumber_ = false;
    int number_ = 0;
};

// "12:04:05.123" in local time of milliseconds since the Unix epoch.
QString StartedText(std::int64_t startedMs);
// "0.250 s", "1:02.500" (minutes), "1:02:03" (hours).
QString DurationText(std::int64_t ms);

}  // namespace corvane::ui
