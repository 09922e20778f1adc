#pragma once

#include "store/LiteConnection.h"

#include <QString>
#include <QVariant>

#include <sqlite3.h>

#include <vector>

class PassControl;

// The values of one row that a scan hands on: those of the result positions
// asked for, in the order asked.
class ScanValues {
public:
    explicit ScanValues(sqlite3_value **values) : v_(values) {}
    LiteStatement::Type type(int i) const {
        return static_cast<LiteStatement::Type>(sqlite3_value_type(v_[i]));
    }
    qint64 integer(int i) const { return sqlite3_value_int64(v_[i]); }
    double real(int i) const { return sqlite3_value_double(v_[i]); }
    // A text's bytes (any other value as the text SQLite makes of it).
    QByteArrayView utf8(int i) const {
        const auto *p = reinterpret_cast<const char *>(sqlite3_value_text(v_[i]));
        return QByteArrayView(p, sqlite3_value_bytes(v_[i]));
    }
    // As LiteStatement::value gives it: integer, real, text, bytes or null.
    QVariant value(int i) const;

private:
    sqlite3_value **v_;
};

// What a scan hands the rows of a record query to.
class ScanVisitor {
public:
    virtual ~ScanVisitor() = default;
    // One row, in the order of the row key (id).
    virtual void row(qint64 id, const ScanValues &values) = 0;
    // Every row with an id up to `lastId` has been handed on.
    virtual void sliceDone(qint64 lastId) {}
    // The scan starts again from its first row: forget every row seen.
    virtual void restart() = 0;
};

// Reads the rows of a record query ("select * from th where ...") on a
// read-only connection of its own, for a pass on a thread of its own.
//
// The acquisition writes a record every second or so and the database is in
// rollback-journal mode, where a reader keeps every writer out for as long
// as its read lasts. So the rows are read in slices of the row key, each
// slice one short read of its own, and writes get in between. The slices end
// at the highest id that existed when the scan opened: records stored later
// wait for the next pass, as they did when the whole query was one read.
//
// Order: the query has no ORDER BY, and SQLite answers it by walking th in the
// order of its INTEGER PRIMARY KEY id (files of this program have no other
// index on th), so its rows come in id order. The slices walk the ids upwards
// and hand each slice's rows on in the order the database gives them; should
// the database ever give one slice's rows in another order (an index that
// somebody added to the file), the scan notices and starts over with every
// slice ordered by id explicitly. Either way the rows come in id order, which
// is also the order in which the list fetches its pages.
class RecordScan {
public:
    static constexpr qint64 kSliceIds = 65536;

    // `positions`: the result columns whose values reach the visitor; the row
    // key (position 0, the id of `table`) comes with every row anyway.
    RecordScan(QString databasePath, QString statement, std::vector<int> positions,
               qint64 sliceIds = kSliceIds, QString table = QStringLiteral("th"));
    ~RecordScan();
    RecordScan(const RecordScan &) = delete;
    RecordScan &operator=(const RecordScan &) = delete;

    // The pass the scan works for: while another program holds the file the
    // scan waits for it, but no longer than until the pass is cancelled.
    void setControl(const PassControl *control) { control_ = control; }
    // Opens the connection and compiles the slices; false with error() set
    // when the file or the query cannot be read.
    bool open();
    // Every slice up to lastId(), reporting progress and stopping early when
    // the pass is cancelled. False on a failure (error()) or a cancel.
    bool run(ScanVisitor &visitor, PassControl &control);
    // The rows with ids first .. last in the same form and order as run().
    bool runRange(ScanVisitor &visitor, qint64 first, qint64 last);
    // Several runRange calls in a row may share one read, which saves taking
    // and giving back the file's lock each time; keep such a group short.
    bool beginRead();
    void endRead();

    // The highest id the scan reads up to (0 for an empty table).
    qint64 lastId() const { return lastId_; }
    const QString &error() const { return error_; }
    // The name of the row key column as the query gives it, quoted for SQL.
    const QString &idColumn() const { return idColumn_; }
    // The scan's own connection, for a follow-up read on the same thread.
    LiteConnection &connection() { return conn_; }

private:
    static void stepRow(sqlite3_context *context, int count, sqlite3_value **values);
    static int busy(void *scan, int tries);
    static void finalRow(sqlite3_context *context);
    bool compile(bool ordered);
    bool runSlice(qint64 first, qint64 last);
    bool fail(const QString &what);
    sqlite3_stmt *prepare(const QString &sql);

    QString path_;
    QString statement_;
    QString table_;
    std::vector<int> positions_;
    qint64 sliceIds_;
    const PassControl *control_ = nullptr;
    LiteConnection conn_;
    sqlite3_stmt *slice_ = nullptr;
    sqlite3_stmt *nextId_ = nullptr;
    QString idColumn_;
    std::vector<QString> columns_;  // quoted names of the positions
    qint64 firstId_ = 0;
    qint64 lastId_ = 0;
    bool empty_ = true;
    bool ordered_ = false;

    // While a slice runs.
    ScanVisitor *visitor_ = nullptr;
    qint64 previousId_ = 0;
    bool anyRow_ = false;
    bool outOfOrder_ = false;
    QString error_;
};

// Texts of the statements around a record query.
namespace recordsql {
// The query as it can stand inside another (without a closing ';').
QString inner(const QString &statement);
// A name quoted for SQL.
QString quoted(const QString &name);
// The rows of the query with ids first .. last, in id order.
QString rowsBetween(const QString &statement, const QString &idColumn, qint64 first, qint64 last);
// Row `offset` (from 0) of the rows with ids from `first` up to `last`.
QString rowAt(const QString &statement, const QString &idColumn, qint64 first, qint64 last,
              qint64 offset);
}  // namespace recordsql
