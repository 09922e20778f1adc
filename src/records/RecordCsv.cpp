#include "records/RecordCsv.h"

#include "records/BackgroundPass.h"
#include "records/CsvFile.h"
#include "records/RecordLoader.h"
#include "records/RecordModel.h"
#include "records/RecordScan.h"
#include "store/LiteConnection.h"

#include <algorithm>

namespace {
// Pages read in one go: a stretch of 65536 rows, one short read.
constexpr qint64 kPagesAtOnce = 256;

void appendRows(const RecordTable &table, QByteArray &out) {
    QByteArray cell;
    for (qsizetype row = 0; row < table.size(); ++row) {
        for (int column = 0; column < RecordTable::ColumnCount; ++column) {
            if (column)
                out += ',';
            cell.clear();
            table.appendCellUtf8(row, column, cell);
            out += CsvFile::field(cell);
        }
        out += "\r\n";
    }
}
}  // namespace

CsvResult exportCsv(const QString &databasePath, const PageIndex &index, const QString &path,
                    PassControl &control) {
    CsvResult result;
    LiteConnection conn;
    if (!conn.OpenReadOnly(databasePath)) {
        result.error = conn.lastError();
        return result;
    }
    CsvFile file(path);
    if (!file.open(RecordModel::columnHeaders())) {
        result.error = file.error();
        return result;
    }
    QByteArray chunk;
    const qint64 pages = qint64(index.pageStarts.size());
    for (qint64 p = 0; p < pages; p += kPagesAtOnce) {
        if (control.cancelled()) {
            result.cancelled = true;
            return result;
        }
        const qint64 next = p + kPagesAtOnce;
        const qint64 last = next < pages ? index.pageStarts[size_t(next)] - 1 : index.lastId;
        const RecordLoad load =
            loadRecords(conn, recordsql::rowsBetween(index.statement, index.idColumn,
                                                     index.pageStarts[size_t(p)], last));
        if (!load.ok()) {
            result.error = load.error;
            return result;
        }
        chunk.clear();
        appendRows(load.table, chunk);
        result.rows += load.table.size();
        if (!file.write(chunk)) {
            result.error = file.error();
            return result;
        }
        control.setProgress(int(std::min<qint64>(999, 1000 * std::min(next, pages) / pages)));
    }
    if (!control.claimCompletion()) {
        result.cancelled = true;
        return result;
    }
    if (!file.commit()) {
        result.error = file.error();
        return result;
    }
    control.setProgress(1000);
    return result;
}
