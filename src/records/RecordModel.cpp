#include "records/RecordModel.h"

#include <algorithm>

RecordModel::RecordModel(LiteConnection &conn, QObject *parent)
    : QAbstractTableModel(parent), pages_(conn) {}

int RecordModel::rowsShown() const {
    return int(std::clamp<qint64>(pages_.rows() - top_, 0, count_));
}

qint64 RecordModel::clampTop(qint64 top) const {
    return std::clamp<qint64>(top, 0, std::max<qint64>(0, pages_.rows() - 1));
}

void RecordModel::setIndex(RecordIndex index, bool keepPlace) {
    beginResetModel();
    pages_.setIndex(std::move(index));
    top_ = keepPlace ? clampTop(top_) : 0;
    endResetModel();
    Q_EMIT listReplaced(keepPlace);
    Q_EMIT totalChanged(pages_.rows());
}

void RecordModel::grow(qint64 rows, qint64 lastId, const std::vector<qint64> &moreStarts) {
    const int before = rowsShown();
    const int after = int(std::clamp<qint64>(rows - top_, 0, count_));
    if (after > before)
        beginInsertRows({}, before, after - 1);
    pages_.grow(rows, lastId, moreStarts);
    if (after > before)
        endInsertRows();
    // The last rows shown may have been on a page read before it was whole.
    if (before > 0)
        Q_EMIT dataChanged(index(0, 0), index(before - 1, RecordTable::ColumnCount - 1));
    Q_EMIT totalChanged(rows);
}

void RecordModel::setWindow(qint64 top, int count) {
    count = std::max(1, count);
    top = clampTop(top);
    if (top == top_ && count == count_)
        return;
    const int before = rowsShown();
    const qint64 oldTop = top_;
    const int oldCount = count_;
    top_ = top;
    count_ = count;
    const int after = rowsShown();
    top_ = oldTop;
    count_ = oldCount;
    if (after != before) {
        beginResetModel();
        top_ = top;
        count_ = count;
        endResetModel();
        return;
    }
    top_ = top;
    count_ = count;
    // As many rows as before: they only show other records.
    if (before > 0) {
        Q_EMIT dataChanged(index(0, 0), index(before - 1, RecordTable::ColumnCount - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, 0, before - 1);
    }
}

int RecordModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : rowsShown();
}

int RecordModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : RecordTable::ColumnCount;
}

QVariant RecordModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole)
        return pages_.cell(top_ + index.row(), index.column());
    if (role == Qt::TextAlignmentRole && index.column() != RecordTable::Time)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    return {};
}

QVariant RecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return headers().value(section);
    return top_ + section + 1;
}

QStringList RecordModel::headers() {
    return {QStringLiteral("地址"), QStringLiteral("采集时间"), QStringLiteral("温度"),
            QStringLiteral("湿度")};
}
