#include "records/RecordCsv.h"

#include "records/BackgroundPass.h"
#include "records/RecordLoader.h"
#include "records/RecordModel.h"
#include "records/RecordScan.h"
#include "store/LiteConnection.h"

#include <QSaveFile>

#include <algorithm>

QByteArray csvField(const QByteArray &utf8) {
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\n') && !utf8.contains('\r'))
        return utf8;
    QByteArray out = utf8;
    out.replace("\"", "\"\"");
    return '"' + out + '"';
}

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
            out += csvField(cell);
        }
        out += "\r\n";
    }
}
}  // namespace

CsvResult exportCsv(const QString &databasePath, const RecordIndex &index, const QString &path,
                    PassControl &control) {
    CsvResult result;
    // Unless committed, the file under its own name is never touched.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = file.errorString();
        return result;
    }
    LiteConnection conn;
    if (!conn.OpenReadOnly(databasePath)) {
        result.error = conn.lastError();
        return result;
    }

    QByteArray chunk("\xEF\xBB\xBF");
    chunk += RecordModel::headers().join(QLatin1Char(',')).toUtf8() + "\r\n";
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
        appendRows(load.table, chunk);
        result.rows += load.table.size();
        if (file.write(chunk) != chunk.size()) {
            result.error = file.errorString();
            return result;
        }
        chunk.clear();
        control.setProgress(int(std::min<qint64>(999, 1000 * std::min(next, pages) / pages)));
    }
    if (file.write(chunk) != chunk.size()) {
        result.error = file.errorString();
        return result;
    }
    if (!control.claimCompletion()) {
        result.cancelled = true;
        return result;
    }
    if (!file.commit()) {
        result.error = file.errorString();
        return result;
    }
    control.setProgress(1000);
    return result;
}
