#include "records/RecordScan.h"

#include "records/BackgroundPass.h"

#include <utility>

QVariant ScanValues::value(int i) const {
    sqlite3_value *v = v_[i];
    switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
            return QVariant::fromValue<qint64>(sqlite3_value_int64(v));
        case SQLITE_FLOAT:
            return sqlite3_value_double(v);
        case SQLITE_NULL:
            return {};
        case SQLITE_BLOB: {
            const auto *p = static_cast<const char *>(sqlite3_value_blob(v));
            return QByteArray(p, sqlite3_value_bytes(v));
        }
        default: {
            const auto *p = reinterpret_cast<const char *>(sqlite3_value_text(v));
            return QString::fromUtf8(p, sqlite3_value_bytes(v));
        }
    }
}

namespace recordsql {

QString inner(const QString &statement) {
    QString s = statement.trimmed();
    while (s.endsWith(QLatin1Char(';'))) {
        s.chop(1);
        s = s.trimmed();
    }
    return s;
}

QString quoted(const QString &name) {
    QString n = name;
    n.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

QString rowsBetween(const QString &statement, const QString &idColumn, qint64 first, qint64 last) {
    return QStringLiteral("select * from (%1) where %2 >= %3 and %2 <= %4 order by %2")
        .arg(inner(statement), idColumn)
        .arg(first)
        .arg(last);
}

QString rowAt(const QString &statement, const QString &idColumn, qint64 first, qint64 last,
              qint64 offset) {
    return rowsBetween(statement, idColumn, first, last) +
           QStringLiteral(" limit 1 offset %1").arg(offset);
}

}  // namespace recordsql

namespace {
// The table's row key as SQLite knows every table's.
QByteArray firstIdOf(const QString &table) {
    return "select min(rowid) from " + recordsql::quoted(table).toUtf8();
}
QByteArray lastIdOf(const QString &table) {
    return "select max(rowid) from " + recordsql::quoted(table).toUtf8();
}
QString nextIdOf(const QString &table) {
    return QStringLiteral("select min(rowid) from %1 where rowid > ?1")
        .arg(recordsql::quoted(table));
}
const char *const kFunction = "qx7_scan";

// One whole number or null from a statement without parameters.
bool scalar(sqlite3 *db, const char *sql, qint64 *value, bool *isNull) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql, -1, &st, nullptr) != SQLITE_OK)
        return false;
    const int rc = sqlite3_step(st);
    *isNull = rc != SQLITE_ROW || sqlite3_column_type(st, 0) == SQLITE_NULL;
    *value = *isNull ? 0 : sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}
}  // namespace

RecordScan::RecordScan(QString databasePath, QString statement, std::vector<int> positions,
                       qint64 sliceIds, QString table)
    : path_(std::move(databasePath)),
      statement_(std::move(statement)),
      table_(std::move(table)),
      positions_(std::move(positions)),
      sliceIds_(sliceIds > 0 ? sliceIds : kSliceIds) {}

RecordScan::~RecordScan() {
    sqlite3_finalize(slice_);
    sqlite3_finalize(nextId_);
}

sqlite3_stmt *RecordScan::prepare(const QString &sql) {
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(conn_.handle(), text.constData(), int(text.size()), &st, nullptr) !=
        SQLITE_OK) {
        error_ = QString::fromUtf8(sqlite3_errmsg(conn_.handle()));
        sqlite3_finalize(st);
        return nullptr;
    }
    return st;
}

bool RecordScan::fail(const QString &what) {
    error_ = what;
    return false;
}

bool RecordScan::open() {
    if (!conn_.OpenReadOnly(path_))
        return fail(conn_.lastError());
    sqlite3 *db = conn_.handle();
    sqlite3_busy_handler(db, &busy, this);

    {
        LiteStatement probe = conn_.prepare(recordsql::inner(statement_));
        if (!probe.isValid())
            return fail(probe.error());
        idColumn_ = recordsql::quoted(probe.ColumnName(0));
        for (int p : positions_) {
            if (p < 0 || p >= probe.columnCount())
                return fail(QStringLiteral("查询结果没有第%1列").arg(p));
            columns_.push_back(recordsql::quoted(probe.ColumnName(qint16(p))));
        }
    }

    bool noFirst = true, noLast = true;
    if (!scalar(db, firstIdOf(table_).constData(), &firstId_, &noFirst) ||
        !scalar(db, lastIdOf(table_).constData(), &lastId_, &noLast))
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    empty_ = noFirst || noLast;
    if (empty_)
        lastId_ = 0;

    if (sqlite3_create_function_v2(db, kFunction, -1, SQLITE_UTF8, this, nullptr, &stepRow,
                                   &finalRow, nullptr) != SQLITE_OK)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    nextId_ = prepare(nextIdOf(table_));
    if (!nextId_)
        return false;
    return compile(false);
}

bool RecordScan::compile(bool ordered) {
    ordered_ = ordered;
    QString arguments = idColumn_;
    for (const QString &c : columns_) arguments += QLatin1Char(',') + c;
    const QString range = QStringLiteral(" where %1 >= ?1 and %1 <= ?2").arg(idColumn_);
    const QString inner = recordsql::inner(statement_);
    // The plain form lets SQLite join the range to the query's own conditions
    // and walk th by id; the ordered one asks for id order outright.
    const QString sql =
        ordered ? QStringLiteral("select %1(%2) from (select * from (%3)%4 order by %5)")
                      .arg(QLatin1String(kFunction), arguments, inner, range, idColumn_)
                : QStringLiteral("select %1(%2) from (%3)%4")
                      .arg(QLatin1String(kFunction), arguments, inner, range);
    sqlite3_finalize(slice_);
    slice_ = prepare(sql);
    return slice_ != nullptr;
}

void RecordScan::stepRow(sqlite3_context *context, int count, sqlite3_value **values) {
    auto *self = static_cast<RecordScan *>(sqlite3_user_data(context));
    const qint64 id = sqlite3_value_int64(values[0]);
    if (self->anyRow_ && id <= self->previousId_) {
        self->outOfOrder_ = true;
        sqlite3_result_error(context, "rows out of id order", -1);
        return;
    }
    self->anyRow_ = true;
    self->previousId_ = id;
    self->visitor_->row(id, ScanValues(values + 1));
}

int RecordScan::busy(void *scan, int tries) {
    // A writer's commit takes a moment; waiting for it (up to ten seconds)
    // is better than failing, unless the pass has been cancelled.
    const auto *self = static_cast<const RecordScan *>(scan);
    if ((self->control_ && self->control_->cancelled()) || tries >= 1000)
        return 0;
    sqlite3_sleep(10);
    return 1;
}

void RecordScan::finalRow(sqlite3_context *context) {
    sqlite3_result_null(context);
}

bool RecordScan::runSlice(qint64 first, qint64 last) {
    sqlite3_stmt *st = slice_;
    sqlite3_bind_int64(st, 1, first);
    sqlite3_bind_int64(st, 2, last);
    outOfOrder_ = false;
    const int rc = sqlite3_step(st);
    // The reset ends the slice's read, so that a writer gets in.
    sqlite3_reset(st);
    if (rc == SQLITE_ROW || rc == SQLITE_DONE)
        return true;
    if (!outOfOrder_)
        error_ = QString::fromUtf8(sqlite3_errmsg(conn_.handle()));
    return false;
}

bool RecordScan::run(ScanVisitor &visitor, PassControl &control) {
    if (!slice_)
        return fail(error_.isEmpty() ? QStringLiteral("scan is not open") : error_);
    visitor_ = &visitor;
    const double span = double(lastId_) - double(firstId_) + 1.0;
    for (;;) {
        anyRow_ = false;
        bool again = false;
        qint64 first = firstId_;
        while (!empty_) {
            if (control.cancelled())
                return false;
            // Unsigned: ids may lie anywhere in the 64-bit range.
            const qint64 last = quint64(lastId_) - quint64(first) < quint64(sliceIds_)
                                    ? lastId_
                                    : qint64(quint64(first) + quint64(sliceIds_) - 1);
            if (!runSlice(first, last)) {
                if (outOfOrder_ && !ordered_) {
                    again = true;
                    break;
                }
                return false;
            }
            visitor.sliceDone(last);
            control.setProgress(int(1000.0 * (double(last) - double(firstId_) + 1.0) / span));
            if (last >= lastId_)
                break;
            // The next slice starts at the next id there is, so that a gap in
            // the ids costs one look-up, not a slice per span.
            sqlite3_stmt *next = nextId_;
            sqlite3_bind_int64(next, 1, last);
            const int rc = sqlite3_step(next);
            const bool more = rc == SQLITE_ROW && sqlite3_column_type(next, 0) != SQLITE_NULL;
            first = more ? sqlite3_column_int64(next, 0) : 0;
            sqlite3_reset(next);
            if (rc != SQLITE_ROW && rc != SQLITE_DONE)
                return fail(QString::fromUtf8(sqlite3_errmsg(conn_.handle())));
            if (!more || first > lastId_)
                break;
        }
        if (!again) {
            control.setProgress(1000);
            return true;
        }
        if (!compile(true))
            return false;
        visitor.restart();
    }
}

bool RecordScan::beginRead() {
    return conn_.Execute(QStringLiteral("BEGIN"));
}

void RecordScan::endRead() {
    conn_.Execute(QStringLiteral("COMMIT"));
}

bool RecordScan::runRange(ScanVisitor &visitor, qint64 first, qint64 last) {
    if (!slice_)
        return fail(error_.isEmpty() ? QStringLiteral("scan is not open") : error_);
    visitor_ = &visitor;
    anyRow_ = false;
    if (runSlice(first, last))
        return true;
    if (!outOfOrder_ || ordered_ || !compile(true))
        return false;
    visitor.restart();
    anyRow_ = false;
    return runSlice(first, last);
}
