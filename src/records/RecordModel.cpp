#include "records/RecordModel.h"

#include "records/RecordLoader.h"
#include "records/RecordScan.h"

RecordModel::RecordModel(LiteConnection &conn, QObject *parent)
    : PagedListModel(parent), conn_(conn) {}

QString RecordModel::cell(qint64 row, int column) const {
    const PageIndex &index = pageIndex();
    if (row < 0 || row >= index.rows)
        return {};
    const RecordTable &page =
        pages_.get(index, row / index.pageRows, [&](qint64 first, qint64 last) {
            // A page that cannot be read (the table gone meanwhile) stays
            // empty until the list is read again.
            return loadRecords(conn_,
                               recordsql::rowsBetween(index.statement, index.idColumn, first, last))
                .table;
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
