#include "ui/connection_model.h"

#include <QDateTime>
#include <QLocale>
#include <algorithm>

namespace corvane::ui {

namespace {

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Figure(std::int64_t value) {
    static const QLocale grouping(QLocale::English);
    return grouping.toString(static_cast<qlonglong>(value));
}

constexpr const char* kHeaders[kColumnCount] = {
    "No.",      "Client",   "Server",   "State", "Started",    "Duration",
    "C\u2192S", "S\u2192C", "Buffered", "TLS",   "Conditions",
};

}  // namespace

QString StartedText(std::int64_t startedMs) {
    return QDateTime::fromMSecsSinceEpoch(startedMs).toString(QStringLiteral("HH:mm:ss.zzz"));
}

QString DurationText(std::int64_t ms) {
    if (ms < 0) {
        ms = 0;
    }
    const std::int64_t seconds = ms / 1000;
    const int millis = static_cast<int>(ms % 1000);
    if (seconds < 60) {
        return QStringLiteral("%1.%2 s").arg(seconds).arg(millis, 3, 10, QLatin1Char('0'));
    }
    if (seconds < 3600) {
        return QStringLiteral("%1:%2.%3")
            .arg(seconds / 60)
            .arg(seconds % 60, 2, 10, QLatin1Char('0'))
            .arg(millis, 3, 10, QLatin1Char('0'));
    }
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600)
        .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
        .arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

TConnectionModel::TConnectionModel(QObject* parent) : QAbstractTableModel(parent) {}

int TConnectionModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TConnectionModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant TConnectionModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromUtf8(kHeaders[section]);
    }
    if (role == Qt::ToolTipRole) {
        if (section == kColumnClientToServer) {
            return QStringLiteral("Bytes passed on from the Client to the Server");
        }
        if (section == kColumnServerToClient) {
            return QStringLiteral("Bytes passed on from the Server to the Client");
        }
    }
    return {};
}

QVariant TConnectionModel::Display(const Row& r, int column) const {
    const relay::ConnectionRow& row = r.row;
    switch (column) {
        case kColumnNumber:
            return QString::number(row.number);
        case kColumnClient:
            return FromUtf8(row.client);
        case kColumnServer:
            return FromUtf8(row.server);
        case kColumnState: {
            const std::string_view state = relay::StateText(row.state);
            QString text = QString::fromLatin1(state.data(), static_cast<qsizetype>(state.size()));
            if (r.streamsDropped) {
                text += QStringLiteral(", bytes not kept");
            }
            return text;
        }
        case kColumnStarted:
            return StartedText(row.startedMs);
        case kColumnDuration:
            return DurationText(SortKey(r, column).toLongLong());
        case kColumnClientToServer:
            return Figure(row.clientToServer);
        case kColumnServerToClient:
            return Figure(row.serverToClient);
        case kColumnBuffered:
            return Figure(row.buffered);
        case kColumnTls:
            return FromUtf8(row.tls);
        case kColumnConditions:
            return FromUtf8(row.conditions);
        default:
            return {};
    }
}

QVariant TConnectionModel::SortKey(const Row& r, int column) const {
    const relay::ConnectionRow& row = r.row;
    switch (column) {
        case kColumnNumber:
            return row.number;
        case kColumnStarted:
            return static_cast<qlonglong>(row.startedMs);
        case kColumnDuration: {
            // A live row runs on from its last report.
            std::int64_t ms = row.durationMs;
            if (!relay::IsEnded(row.state)) {
                ms += std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - r.received)
                          .count();
            }
            return static_cast<qlonglong>(ms);
        }
        case kColumnClientToServer:
            return static_cast<qlonglong>(row.clientToServer);
        case kColumnServerToClient:
            return static_cast<qlonglong>(row.serverToClient);
        case kColumnBuffered:
            return static_cast<qlonglong>(row.buffered);
        default:
            return Display(r, column);
    }
}

QVariant TConnectionModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= static_cast<int>(rows_.size())) {
        return {};
    }
    const Row& r = At(index.row());
    switch (role) {
        case Qt::DisplayRole:
            return Display(r, index.column());
        case kSortRole:
            return SortKey(r, index.column());
        case kSerialRole:
            return static_cast<qulonglong>(r.row.serial);
        case kEndedRole:
            return relay::IsEnded(r.row.state);
        case Qt::TextAlignmentRole:
            if (index.column() == kColumnNumber || index.column() == kColumnDuration ||
                (index.column() >= kColumnClientToServer && index.column() <= kColumnBuffered)) {
                return static_cast<int>(Qt::AlignRight | Qt::AlignVCenter);
            }
            return {};
        case Qt::ToolTipRole:
            if (r.streamsDropped) {
                return QStringLiteral(
                    "Its kept bytes were given up to make room for newer Connections");
            }
            return {};
        default:
            return {};
    }
}

std::size_t TConnectionModel::PositionOf(log::ConnectionSerial serial) const {
    const auto it =
        std::lower_bound(rows_.begin(), rows_.end(), serial,
                         [](const Row& r, log::ConnectionSerial s) { return r.row.serial < s; });
    if (it == rows_.end() || it->row.serial != serial) {
        return rows_.size();
    }
    return static_cast<std::size_t>(it - rows_.begin());
}

const relay::ConnectionRow* TConnectionModel::Find(log::ConnectionSerial serial) const {
    const std::size_t position = PositionOf(serial);
    return position < rows_.size() ? &rows_[position].row : nullptr;
}

bool TConnectionModel::StreamsDropped(log::ConnectionSerial serial) const {
    const std::size_t position = PositionOf(serial);
    return position < rows_.size() && rows_[position].streamsDropped;
}

void TConnectionModel::ShowConnections(const relay::ConnectionChanges& changes) {
    const auto now = std::chrono::steady_clock::now();
    std::vector<Row> added;
    for (const relay::ConnectionRow& row : changes.rows) {
        const std::size_t position = PositionOf(row.serial);
        if (position == rows_.size()) {
            // New: serials grow with the accepts, so it goes on top. One older than the top
            // (a view set while Connections were live) goes to its place.
            if (rows_.empty() || row.serial > rows_.back().row.serial) {
                added.push_back(Row{row, now, false});
            } else {
                InsertInPlace(Row{row, now, false});
            }
            continue;
        }
        Row& r = rows_[position];
        const bool wasEnded = relay::IsEnded(r.row.state);
        r.row = row;
        r.received = now;
        if (!wasEnded && relay::IsEnded(row.state)) {
            --liveRows_;
            ++endedRows_;
        }
        const int modelRow = ModelRow(position);
        Q_EMIT dataChanged(index(modelRow, 0), index(modelRow, kColumnCount - 1));
    }
    if (!added.empty()) {
        std::sort(added.begin(), added.end(),
                  [](const Row& a, const Row& b) { return a.row.serial < b.row.serial; });
        beginInsertRows(QModelIndex(), 0, static_cast<int>(added.size()) - 1);
        for (Row& r : added) {
            if (relay::IsEnded(r.row.state)) {
                ++endedRows_;
            } else {
                ++liveRows_;
            }
            rows_.push_back(std::move(r));
        }
        endInsertRows();
    }
    for (const log::ConnectionSerial serial : changes.streamsDropped) {
        const std::size_t position = PositionOf(serial);
        if (position < rows_.size() && !rows_[position].streamsDropped) {
            rows_[position].streamsDropped = true;
            const int modelRow = ModelRow(position);
            Q_EMIT dataChanged(index(modelRow, kColumnState), index(modelRow, kColumnState));
        }
    }
    DropOldEnded();
    Q_EMIT RowsChanged();
}

void TConnectionModel::InsertInPlace(Row row) {
    const auto it =
        std::lower_bound(rows_.begin(), rows_.end(), row.row.serial,
                         [](const Row& r, log::ConnectionSerial s) { return r.row.serial < s; });
    const auto position = static_cast<std::size_t>(it - rows_.begin());
    // Model rows count from the newest: the new row comes below those after it.
    const int modelRow = static_cast<int>(rows_.size() - position);
    beginInsertRows(QModelIndex(), modelRow, modelRow);
    if (relay::IsEnded(row.row.state)) {
        ++endedRows_;
    } else {
        ++liveRows_;
    }
    rows_.insert(it, std::move(row));
    endInsertRows();
}

void TConnectionModel::DropOldEnded() {
    if (endedRows_ <= kMaxEndedRows) {
        return;
    }
    std::size_t excess = endedRows_ - kMaxEndedRows;
    std::vector<std::size_t> positions;
    positions.reserve(excess);
    for (std::size_t i = 0; i < rows_.size() && excess > 0; ++i) {
        if (relay::IsEnded(rows_[i].row.state)) {
            positions.push_back(i);
            --excess;
        }
    }
    olderNotListed_ += static_cast<std::int64_t>(positions.size());
    endedRows_ -= positions.size();
    RemovePositions(positions);
}

void TConnectionModel::RemovePositions(const std::vector<std::size_t>& positions) {
    // From the last range back, so that the earlier positions stay valid; a range of
    // neighbouring positions is one removal.
    std::size_t end = positions.size();
    while (end > 0) {
        std::size_t begin = end - 1;
        while (begin > 0 && positions[begin - 1] + 1 == positions[begin]) {
            --begin;
        }
        const std::size_t first = positions[begin];
        const std::size_t last = positions[end - 1];
        beginRemoveRows(QModelIndex(), ModelRow(last), ModelRow(first));
        rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(first),
                    rows_.begin() + static_cast<std::ptrdiff_t>(last + 1));
        endRemoveRows();
        end = begin;
    }
}

void TConnectionModel::ClearAll() {
    beginResetModel();
    rows_.clear();
    endedRows_ = 0;
    liveRows_ = 0;
    olderNotListed_ = 0;
    endResetModel();
    Q_EMIT RowsChanged();
}

void TConnectionModel::ClearEnded() {
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        if (relay::IsEnded(rows_[i].row.state)) {
            positions.push_back(i);
        }
    }
    RemovePositions(positions);
    endedRows_ = 0;
    olderNotListed_ = 0;
    Q_EMIT RowsChanged();
}

void TConnectionModel::RefreshDurations() {
    if (liveRows_ > 0 && !rows_.empty()) {
        Q_EMIT dataChanged(index(0, kColumnDuration),
                           index(static_cast<int>(rows_.size()) - 1, kColumnDuration),
                           {Qt::DisplayRole, kSortRole});
    }
}

// --- TConnectionFilter ------------------------------------------------------------------

TConnectionFilter::TConnectionFilter(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(kSortRole);
    setDynamicSortFilter(true);
}

void TConnectionFilter::SetFilterText(const QString& text) {
    text_ = text.trimmed();
    number_ = text_.toInt(&isNumber_);
    invalidateRowsFilter();
}

bool TConnectionFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const {
    if (text_.isEmpty()) {
        return true;
    }
    const QAbstractItemModel* model = sourceModel();
    const auto text = [&](int column) {
        return model->index(sourceRow, column, sourceParent).data().toString();
    };
    if (isNumber_) {
        return text(kColumnNumber).toInt() == number_;
    }
    for (const int column : {kColumnClient, kColumnServer, kColumnState}) {
        if (text(column).contains(text_, Qt::CaseInsensitive)) {
            return true;
        }
    }
    return false;
}

}  // namespace corvane::ui
