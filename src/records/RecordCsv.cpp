#include "records/RecordCsv.h"

#include "records/RecordModel.h"
#include "records/RecordTable.h"

#include <QSaveFile>

QByteArray csvField(const QByteArray &utf8) {
    if (!utf8.contains(',') && !utf8.contains('"') && !utf8.contains('\n') && !utf8.contains('\r'))
        return utf8;
    QByteArray out = utf8;
    out.replace("\"", "\"\"");
    return '"' + out + '"';
}

QString exportCsv(const RecordTable &table, const QString &path) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();

    QByteArray chunk("\xEF\xBB\xBF");
    chunk += RecordModel::headers().join(QLatin1Char(',')).toUtf8() + "\r\n";
    QByteArray cell;
    for (qsizetype row = 0; row < table.size(); ++row) {
        for (int column = 0; column < RecordTable::ColumnCount; ++column) {
            if (column)
                chunk += ',';
            cell.clear();
            table.appendCellUtf8(row, column, cell);
            chunk += csvField(cell);
        }
        chunk += "\r\n";
        if (chunk.size() >= (1 << 20)) {
            if (file.write(chunk) != chunk.size())
                return file.errorString();
            chunk.clear();
        }
    }
    if (file.write(chunk) != chunk.size())
        return file.errorString();
    if (!file.commit())
        return file.errorString();
    return {};
}
