#include "records/RecordModel.h"

RecordModel::RecordModel(const QString &databasePath, QObject *parent)
    : PagedListModel(parent), scan_(databasePath, QStringLiteral("th"), RecordRows::positions()) {}

QString RecordModel::cell(qint64 row, int column) const {
    const PageIndex &index = pageIndex();
    if (row < 0 || row >= index.rows)
        return {};
    const RecordTable &page =
        pages_.get(index, row / index.pageRows, [&](qint64 first, qint64 last) {
            RecordRows rows;
            if (!scan_.read(index, first, last, rows))
                rows.table.clear();
            return std::move(rows.table);
        });
    return page.cell(row % index.pageRows, column);
}

QVariant RecordModel::cellRole(qint64, int column, int role) const {
    if (role == Qt::TextAlignmentRole && column != RecordTable::Time)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignRight | Qt::AlignVCenter));
    return {};
}

QStringList RecordModel::columnHeaders() {
    return {QStringLiteral("地址"), QStringLiteral("采集时间"), QStringLiteral("温度"),
            QStringLiteral("湿度")};
}
