#include "records/RecordCsv.h"

#include "records/BackgroundPass.h"
#include "records/CsvFile.h"
#include "records/RecordModel.h"
#include "records/RecordTable.h"

#include <memory>

namespace {
// The records of each slice of the pass, written to the file as lines. A pass
// that starts over starts the file over.
class CsvWriter : public RecordRows {
public:
    explicit CsvWriter(QString path) : path_(std::move(path)) { restart(); }

    void sliceDone(qint64) override {
        QByteArray lines, cell;
        for (qsizetype row = 0; row < table.size(); ++row) {
            for (int column = 0; column < RecordTable::ColumnCount; ++column) {
                if (column)
                    lines += ',';
                cell.clear();
                table.appendCellUtf8(row, column, cell);
                lines += CsvFile::field(cell);
            }
            lines += "\r\n";
        }
        rows += table.size();
        table.clear();
        ok = ok && file->write(lines);
    }
    void restart() override {
        RecordRows::restart();
        rows = 0;
        file = std::make_unique<CsvFile>(path_);
        ok = file->open(RecordModel::columnHeaders());
    }

    std::unique_ptr<CsvFile> file;
    bool ok = false;
    qint64 rows = 0;

private:
    QString path_;
};
}  // namespace

CsvResult exportCsv(const QString &databasePath, const PageIndex &index, const QString &path,
                    PassControl &control) {
    CsvResult result;
    CsvWriter writer(path);
    if (!writer.ok) {
        result.error = writer.file->error();
        return result;
    }
    RowScan scan(databasePath, index.statement, QStringLiteral("th"), RecordRows::positions());
    scan.setCancelled([&control] { return control.cancelled(); });
    scan.limitTo(index.lastId);
    const bool read = index.rows == 0 || (scan.open() && scan.run(writer, [&](int permille) {
                          control.setProgress(std::min(permille, 999));
                      }));
    if (control.cancelled()) {
        result.cancelled = true;
        return result;
    }
    if (!read || !writer.ok) {
        result.error = read ? writer.file->error() : scan.error();
        return result;
    }
    result.rows = writer.rows;
    if (!control.claimCompletion()) {
        result.cancelled = true;
        return result;
    }
    if (!writer.file->commit()) {
        result.error = writer.file->error();
        return result;
    }
    control.setProgress(1000);
    return result;
}
