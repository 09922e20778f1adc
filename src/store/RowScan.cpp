#include "store/RowScan.h"

#include <sqlite3.h>

#include <utility>

QVariant ScanValue::toVariant() const {
    switch (type) {
        case Type::Integer:
            return QVariant::fromValue<qint64>(integer);
        case Type::Real:
            return real;
        case Type::Null:
            return {};
        case Type::Blob:
            return bytes.toByteArray();
        case Type::Text:
            break;
    }
    return QString::fromUtf8(bytes);
}

namespace {

const char *const kFunction = "qx7_scan";

// A name quoted for SQL.
QString quoted(const QString &name) {
    QString n = name;
    n.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + n + QLatin1Char('"');
}

// The query as it can stand inside another (without a closing ';').
QString inner(const QString &statement) {
    QString s = statement.trimmed();
    while (s.endsWith(QLatin1Char(';'))) {
        s.chop(1);
        s = s.trimmed();
    }
    return s;
}

// One whole number or null from a statement without parameters.
bool scalar(sqlite3 *db, const QString &sql, qint64 *value, bool *isNull) {
    sqlite3_stmt *st = nullptr;
    if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &st, nullptr) != SQLITE_OK)
        return false;
    const int rc = sqlite3_step(st);
    *isNull = rc != SQLITE_ROW || sqlite3_column_type(st, 0) == SQLITE_NULL;
    *value = *isNull ? 0 : sqlite3_column_int64(st, 0);
    sqlite3_finalize(st);
    return rc == SQLITE_ROW || rc == SQLITE_DONE;
}

}  // namespace

// What SQLite calls back into.
struct RowScan::Native {
    // The scan's function: one call per row of a slice, with the row key and
    // the values of the positions.
    static void stepRow(sqlite3_context *context, int count, sqlite3_value **values) {
        auto *self = static_cast<RowScan *>(sqlite3_user_data(context));
        const qint64 id = sqlite3_value_int64(values[0]);
        if (self->anyRow_ && id <= self->previousId_) {
            self->outOfOrder_ = true;
            sqlite3_result_error(context, "rows out of id order", -1);
            return;
        }
        self->anyRow_ = true;
        self->previousId_ = id;
        ScanValue *out = self->values_.data();
        for (int i = 1; i < count; ++i, ++out) {
            sqlite3_value *v = values[i];
            switch (sqlite3_value_type(v)) {
                case SQLITE_INTEGER:
                    out->type = ScanValue::Type::Integer;
                    out->integer = sqlite3_value_int64(v);
                    out->real = double(out->integer);
                    break;
                case SQLITE_FLOAT:
                    out->type = ScanValue::Type::Real;
                    out->real = sqlite3_value_double(v);
                    break;
                case SQLITE_NULL:
                    out->type = ScanValue::Type::Null;
                    break;
                case SQLITE_BLOB:
                    out->type = ScanValue::Type::Blob;
                    out->bytes = QByteArrayView(static_cast<const char *>(sqlite3_value_blob(v)),
                                                sqlite3_value_bytes(v));
                    break;
                default:
                    out->type = ScanValue::Type::Text;
                    out->bytes =
                        QByteArrayView(reinterpret_cast<const char *>(sqlite3_value_text(v)),
                                       sqlite3_value_bytes(v));
                    break;
            }
        }
        self->sink_->row(id, self->values_.data());
    }
    static void finalRow(sqlite3_context *context) { sqlite3_result_null(context); }
    // A writer's commit takes a moment; waiting for it is better than
    // failing, unless the work has been cancelled.
    static int busy(void *scan, int tries) {
        const auto *self = static_cast<const RowScan *>(scan);
        if (self->cancelled() || tries >= self->waitTries_)
            return 0;
        sqlite3_sleep(10);
        return 1;
    }
    static sqlite3_stmt *prepare(RowScan &self, const QString &sql) {
        const QByteArray text = sql.toUtf8();
        sqlite3_stmt *st = nullptr;
        if (sqlite3_prepare_v2(self.conn_.handle(), text.constData(), int(text.size()), &st,
                               nullptr) != SQLITE_OK) {
            self.error_ = QString::fromUtf8(sqlite3_errmsg(self.conn_.handle()));
            sqlite3_finalize(st);
            return nullptr;
        }
        return st;
    }
};

RowScan::RowScan(QString databasePath, QString statement, QString table, std::vector<int> positions,
                 qint64 sliceIds)
    : path_(std::move(databasePath)),
      statement_(std::move(statement)),
      table_(std::move(table)),
      positions_(std::move(positions)),
      sliceIds_(sliceIds > 0 ? sliceIds : kSliceIds),
      values_(positions_.size()) {}

RowScan::~RowScan() {
    sqlite3_finalize(slice_);
    sqlite3_finalize(nextId_);
}

bool RowScan::fail(const QString &what) {
    error_ = what;
    return false;
}

qint64 RowScan::lastId() const {
    return std::min(lastId_, limit_);
}

bool RowScan::open() {
    if (!conn_.OpenReadOnly(path_))
        return fail(conn_.lastError());
    sqlite3 *db = conn_.handle();
    sqlite3_busy_handler(db, &Native::busy, this);
    // A pass reads each page once: a small cache serves it as well as a large
    // one, and the system's file cache does the rest.
    conn_.Execute(QStringLiteral("PRAGMA cache_size = -256"));

    {
        LiteStatement probe = conn_.prepare(inner(statement_));
        if (!probe.isValid())
            return fail(probe.error());
        idColumn_ = quoted(probe.ColumnName(0));
        for (int p : positions_) {
            if (p < 0 || p >= probe.columnCount())
                return fail(QStringLiteral("查询结果没有第%1列").arg(p));
            columns_.push_back(quoted(probe.ColumnName(qint16(p))));
        }
    }

    const QString table = quoted(table_);
    bool noFirst = true, noLast = true;
    if (!scalar(db, QStringLiteral("select min(rowid) from ") + table, &firstId_, &noFirst) ||
        !scalar(db, QStringLiteral("select max(rowid) from ") + table, &lastId_, &noLast))
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    empty_ = noFirst || noLast || firstId_ > lastId();
    if (noFirst || noLast)
        lastId_ = 0;

    if (sqlite3_create_function_v2(db, kFunction, -1, SQLITE_UTF8, this, nullptr, &Native::stepRow,
                                   &Native::finalRow, nullptr) != SQLITE_OK)
        return fail(QString::fromUtf8(sqlite3_errmsg(db)));
    nextId_ = Native::prepare(
        *this, QStringLiteral("select min(rowid) from %1 where rowid > ?1").arg(table));
    if (!nextId_)
        return false;
    return compile(false);
}

bool RowScan::compile(bool ordered) {
    ordered_ = ordered;
    QString arguments = idColumn_;
    for (const QString &c : columns_) arguments += QLatin1Char(',') + c;
    const QString range = QStringLiteral(" where %1 >= ?1 and %1 <= ?2").arg(idColumn_);
    const QString query = inner(statement_);
    // The plain form lets SQLite join the range to the query's own conditions
    // and walk the table by id; the ordered one asks for id order outright.
    const QString sql =
        ordered ? QStringLiteral("select %1(%2) from (select * from (%3)%4 order by %5)")
                      .arg(QLatin1String(kFunction), arguments, query, range, idColumn_)
                : QStringLiteral("select %1(%2) from (%3)%4")
                      .arg(QLatin1String(kFunction), arguments, query, range);
    sqlite3_finalize(slice_);
    slice_ = Native::prepare(*this, sql);
    return slice_ != nullptr;
}

bool RowScan::runSlice(qint64 first, qint64 last) {
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

bool RowScan::run(RowSink &sink, const std::function<void(int)> &progress) {
    if (!slice_)
        return fail(error_.isEmpty() ? QStringLiteral("scan is not open") : error_);
    sink_ = &sink;
    const qint64 end = lastId();
    const double span = double(end) - double(firstId_) + 1.0;
    for (;;) {
        anyRow_ = false;
        bool again = false;
        qint64 first = firstId_;
        while (!empty_) {
            if (cancelled())
                return false;
            // Unsigned: ids may lie anywhere in the 64-bit range.
            const qint64 last = quint64(end) - quint64(first) < quint64(sliceIds_)
                                    ? end
                                    : qint64(quint64(first) + quint64(sliceIds_) - 1);
            if (!runSlice(first, last)) {
                if (outOfOrder_ && !ordered_) {
                    again = true;
                    break;
                }
                return false;
            }
            sink.sliceDone(last);
            if (progress)
                progress(int(1000.0 * (double(last) - double(firstId_) + 1.0) / span));
            if (last >= end)
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
            if (!more || first > end)
                break;
        }
        if (!again) {
            if (progress)
                progress(1000);
            return true;
        }
        if (!compile(true))
            return false;
        sink.restart();
    }
}

bool RowScan::beginRead() {
    return conn_.Execute(QStringLiteral("BEGIN"));
}

void RowScan::endRead() {
    conn_.Execute(QStringLiteral("COMMIT"));
}

bool RowScan::runRange(RowSink &sink, qint64 first, qint64 last) {
    if (!slice_)
        return fail(error_.isEmpty() ? QStringLiteral("scan is not open") : error_);
    sink_ = &sink;
    anyRow_ = false;
    if (runSlice(first, last))
        return true;
    if (!outOfOrder_ || ordered_ || !compile(true))
        return false;
    sink.restart();
    anyRow_ = false;
    return runSlice(first, last);
}
