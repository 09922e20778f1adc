#include "records/PagedListModel.h"

#include <algorithm>

std::pair<qint64, qint64> PageIndex::pageIds(qint64 p) const {
    const qint64 first = pageStarts[size_t(p)];
    const qint64 last = p + 1 < qint64(pageStarts.size()) ? pageStarts[size_t(p + 1)] - 1 : lastId;
    return {first, last};
}

bool PageScan::read(const PageIndex &index, qint64 first, qint64 last, RowSink &sink) {
    if (!scan_ || statement_ != index.statement) {
        statement_ = index.statement;
        scan_ = std::make_unique<RowScan>(path_, statement_, table_, positions_);
        scan_->setWaitLimit(100);
        if (!scan_->open())
            return false;
    }
    return scan_->runRange(sink, first, last);
}

int PagedListModel::rowsShown() const {
    return int(std::clamp<qint64>(index_.rows - top_, 0, count_));
}

qint64 PagedListModel::clampTop(qint64 top) const {
    return std::clamp<qint64>(top, 0, std::max<qint64>(0, index_.rows - 1));
}

void PagedListModel::setIndex(PageIndex index, bool keepPlace) {
    beginResetModel();
    index_ = std::move(index);
    dropPages(0);
    top_ = keepPlace ? clampTop(top_) : 0;
    endResetModel();
    Q_EMIT listReplaced(keepPlace);
    Q_EMIT totalChanged(index_.rows);
}

void PagedListModel::grow(qint64 rows, qint64 lastId, const std::vector<qint64> &moreStarts) {
    const int before = rowsShown();
    const int after = int(std::clamp<qint64>(rows - top_, 0, count_));
    if (after > before)
        beginInsertRows({}, before, after - 1);
    // The page that was last so far may hold more rows now.
    dropPages(index_.rows > 0 ? (index_.rows - 1) / index_.pageRows : 0);
    index_.pageStarts.insert(index_.pageStarts.end(), moreStarts.begin(), moreStarts.end());
    index_.rows = rows;
    index_.lastId = lastId;
    if (after > before)
        endInsertRows();
    // The last rows shown may have been on a page read before it was whole.
    if (before > 0)
        Q_EMIT dataChanged(index(0, 0), index(before - 1, columnCount() - 1));
    Q_EMIT totalChanged(rows);
}

void PagedListModel::setWindow(qint64 top, int count) {
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
    // As many rows as before: they only show other rows of the list.
    if (before > 0) {
        Q_EMIT dataChanged(index(0, 0), index(before - 1, columnCount() - 1));
        Q_EMIT headerDataChanged(Qt::Vertical, 0, before - 1);
    }
}

int PagedListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : rowsShown();
}

int PagedListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : int(headers().size());
}

QVariant PagedListModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole)
        return cell(top_ + index.row(), index.column());
    return cellRole(top_ + index.row(), index.column(), role);
}

QVariant PagedListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return headers().value(section);
    return top_ + section + 1;
}
