#include "records/RecordModel.h"

#include <climits>

void RecordModel::setTable(RecordTable &&table) {
    beginResetModel();
    table_ = std::move(table);
    endResetModel();
}

int RecordModel::rowCount(const QModelIndex &parent) const {
    if (parent.isValid())
        return 0;
    // A view counts rows in int; more than that are not listed.
    return int(qMin<qsizetype>(table_.size(), INT_MAX));
}

int RecordModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : RecordTable::ColumnCount;
}

QVariant RecordModel::data(const QModelIndex &index, int role) const {
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    if (role == Qt::DisplayRole)
        return table_.cell(index.row(), index.column());
    if (role == Qt::TextAlignmentRole && index.column() != RecordTable::Time)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    return {};
}

QVariant RecordModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return headers().value(section);
    return section + 1;
}

QStringList RecordModel::headers() {
    return {QStringLiteral("地址"), QStringLiteral("采集时间"), QStringLiteral("温度"),
            QStringLiteral("湿度")};
}
