#pragma once

#include "store/LiteConnection.h"

#include <QByteArrayView>
#include <QString>
#include <QVariant>

#include <algorithm>
#include <functional>
#include <limits>
#include <vector>

// One value of a row as a scan hands it on: its type, and the number or the
// bytes (a text's UTF-8, a blob's bytes) that go with it. The bytes are valid
// only while the row is being handed on.
struct ScanValue {
    using Type = LiteStatement::Type;
    Type type = Type::Null;
    qint64 integer = 0;
    double real = 0;  // for an integer too
    QByteArrayView bytes;

    bool isNumber() const { return type == Type::Integer || type == Type::Real; }
    // As LiteStatement::value gives it: integer, real, text, bytes or null.
    QVariant toVariant() const;
};

// What a scan hands the rows of its statement to.
class RowSink {
public:
    virtual ~RowSink() = default;
    // One row, in the order of the row key (id): the values of the positions
    // the scan was asked for, in that order.
    virtual void row(qint64 id, const ScanValue *values) = 0;
    // Every row with an id up to `lastId` has been handed on.
    virtual void sliceDone(qint64 lastId) {}
    // The scan starts again from its first row: forget every row seen.
    virtual void restart() = 0;
};

// One pass over a query of a table ("select * from th where ...", whose first
// column is the table's row key) on a read-only connection of its own, for
// work on a thread of its own: the rows in the order of their ids, each handed
// to a sink with the values of the result positions asked for.
//
// Writers get in while the pass runs. In the rollback-journal mode of the
// program's files a reader keeps every writer out for as long as its read
// lasts, so the rows are read in slices of the row key, each slice one short
// read of its own. The slices end at the highest id that existed when the scan
// opened (or an earlier limit): rows stored later wait for the next pass.
//
// Order: a query without ORDER BY is answered by walking the table in the
// order of its INTEGER PRIMARY KEY (the program's files have no other index on
// th), so its rows come in id order. Each slice's rows are handed on in the
// order the database gives them; should it give them in another order (an
// index that somebody added to the file), the scan notices, tells the sink to
// start over, and orders every slice by id explicitly.
//
// Speed: each slice is one call into SQLite that hands every row to a SQL
// function of the scan's own, rather than a step out of SQLite and a read of
// each column per row, which makes the whole pass about as fast as merely
// stepping through the query.
class RowScan {
public:
    static constexpr qint64 kSliceIds = 65536;

    RowScan(QString databasePath, QString statement, QString table, std::vector<int> positions,
            qint64 sliceIds = kSliceIds);
    ~RowScan();
    RowScan(const RowScan &) = delete;
    RowScan &operator=(const RowScan &) = delete;

    // While another program holds the file the scan waits for it (up to ten
    // seconds), but not once `cancelled` says so; a pass stops early then too.
    void setCancelled(std::function<bool()> cancelled) { cancelled_ = std::move(cancelled); }
    // How long a read waits for a file held by another program (ten seconds
    // unless set; a read on a window's thread waits only a moment).
    void setWaitLimit(int ms) { waitTries_ = std::max(0, ms / 10); }
    // Reads no row with an id beyond `lastId` (set before open()).
    void limitTo(qint64 lastId) { limit_ = lastId; }
    // Opens the connection and compiles the slices; false with error() set
    // when the file or the query cannot be read.
    bool open();
    // Every slice up to lastId(), reporting how far it came in per mille.
    // False on a failure (error()) or when cancelled.
    bool run(RowSink &sink, const std::function<void(int permille)> &progress = {});
    // The rows with ids first .. last in the same form and order as run().
    bool runRange(RowSink &sink, qint64 first, qint64 last);
    // Several runRange calls in a row may share one read, which saves taking
    // and giving back the file's lock each time; keep such a group short.
    bool beginRead();
    void endRead();

    // The highest id the scan reads up to (0 for an empty table).
    qint64 lastId() const;
    const QString &error() const { return error_; }
    // The name of the row key column as the query gives it, quoted for SQL.
    const QString &idColumn() const { return idColumn_; }
    // The scan's own connection, for a follow-up read on the same thread.
    LiteConnection &connection() { return conn_; }

private:
    struct Native;
    bool compile(bool ordered);
    bool runSlice(qint64 first, qint64 last);
    bool fail(const QString &what);
    bool cancelled() const { return cancelled_ && cancelled_(); }

    QString path_;
    QString statement_;
    QString table_;
    std::vector<int> positions_;
    qint64 sliceIds_;
    std::function<bool()> cancelled_;
    int waitTries_ = 1000;
    qint64 limit_ = std::numeric_limits<qint64>::max();
    LiteConnection conn_;
    sqlite3_stmt *slice_ = nullptr;   // the compiled slice statement
    sqlite3_stmt *nextId_ = nullptr;  // the first id after a slice
    QString idColumn_;
    std::vector<QString> columns_;  // quoted names of the positions
    qint64 firstId_ = 0;
    qint64 lastId_ = 0;
    bool empty_ = true;
    bool ordered_ = false;

    // While a slice runs.
    RowSink *sink_ = nullptr;
    std::vector<ScanValue> values_;
    qint64 previousId_ = 0;
    bool anyRow_ = false;
    bool outOfOrder_ = false;
    QString error_;
};
