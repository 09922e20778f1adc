#pragma once

#include "store/RowScan.h"

#include <QByteArrayView>
#include <QString>

#include <memory>
#include <unordered_map>
#include <vector>

// Record times in eight bytes: the digits of YYYY-MM-DD HH:MM:SS packed into
// bit fields, so that packed values sort like the texts and give the same
// text back. Texts in any other form are not packed (kOddTime).
namespace recordtime {
inline constexpr qint64 kOddTime = -1;
qint64 pack(QByteArrayView text);
QString text(qint64 packed);
// Appends the 19 characters of the text as UTF-8 (for export).
void appendUtf8(qint64 packed, QByteArray &out);
}  // namespace recordtime

// Rows of the record list (a page of them, or a slice on its way to a file),
// 16 bytes each: the address as an integer, the time packed, temperature and
// humidity in tenths. A value that does not fit this form (a text, a null, a
// finer fraction, a number out of range) is kept as the text of its cell in a
// small side table, so every cell shows exactly what the database holds. Rows
// live in fixed blocks: growing never copies what is already stored.
class RecordTable {
public:
    enum Column { Adr, Time, Temp, Hum, ColumnCount };

    RecordTable() = default;
    RecordTable(RecordTable &&) noexcept = default;
    RecordTable &operator=(RecordTable &&) noexcept = default;
    RecordTable(const RecordTable &) = delete;
    RecordTable &operator=(const RecordTable &) = delete;

    qsizetype size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }

    // Appends a record from the values of result positions 1 to 4 (adr,
    // mydate, temp, hum) as a scan hands them on.
    void appendRecord(const ScanValue *values);

    // Appending, column by column: start a row, then set each of its cells.
    void appendRow();
    void setAdr(qint64 adr);
    void setTime(QByteArrayView utf8);
    // A number: kept in tenths when it is one, as its text otherwise.
    void setNumber(Column column, double value);
    // Temperature or humidity in tenths (see toTenths).
    void setTenths(Column column, qint16 tenths) {
        (column == Temp ? last().temp : last().hum) = tenths;
    }
    // True, with the tenths, when `value` is exactly a number of tenths that
    // the table can hold.
    static bool toTenths(double value, qint16 *tenths);
    // Any other value: its cell text.
    void setText(Column column, const QString &text);

    // The text of a cell as the list shows it.
    QString cell(qsizetype row, int column) const;
    // The same text appended as UTF-8 (for export).
    void appendCellUtf8(qsizetype row, int column, QByteArray &out) const;
    // The packed time of a row (kOddTime when its text is kept aside).
    qint64 packedTime(qsizetype row) const { return at(row).time; }

    void clear();
    // Bytes held, for the benchmark.
    qsizetype bytesUsed() const;

private:
    struct Row {
        qint64 time;
        qint32 adr;
        qint16 temp;
        qint16 hum;
    };
    static constexpr int kBlockBits = 8;
    static constexpr qsizetype kBlockSize = qsizetype(1) << kBlockBits;

    Row &last() { return blocks_[(size_ - 1) >> kBlockBits][(size_ - 1) & (kBlockSize - 1)]; }
    const Row &at(qsizetype row) const {
        return blocks_[row >> kBlockBits][row & (kBlockSize - 1)];
    }
    static quint64 key(qsizetype row, int column) {
        return quint64(row) * ColumnCount + quint64(column);
    }

    std::vector<std::unique_ptr<Row[]>> blocks_;
    qsizetype size_ = 0;
    std::unordered_map<quint64, QString> odd_;
};

// Records into a table as a scan hands them on (result positions 1 to 4).
class RecordRows : public RowSink {
public:
    static std::vector<int> positions() { return {1, 2, 3, 4}; }
    void row(qint64, const ScanValue *values) override { table.appendRecord(values); }
    void restart() override { table.clear(); }
    RecordTable table;
};
