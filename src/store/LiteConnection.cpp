#include "store/LiteConnection.h"

#include <sqlite3.h>

#include <utility>

namespace {
QString describe(sqlite3 *db, int rc) {
    if (db)
        return QString::fromUtf8(sqlite3_errmsg(db));
    return QString::fromUtf8(sqlite3_errstr(rc));
}
}  // namespace

LiteStatement::LiteStatement(LiteStatement &&other) noexcept
    : stmt_(std::exchange(other.stmt_, nullptr)),
      done_(std::exchange(other.done_, true)),
      error_(std::move(other.error_)) {}

LiteStatement &LiteStatement::operator=(LiteStatement &&other) noexcept {
    if (this != &other) {
        Close();
        stmt_ = std::exchange(other.stmt_, nullptr);
        done_ = std::exchange(other.done_, true);
        error_ = std::move(other.error_);
    }
    return *this;
}

LiteStatement::~LiteStatement() {
    Close();
}

bool LiteStatement::Step() {
    if (!stmt_) {
        done_ = true;
        if (error_.isEmpty())
            error_ = QStringLiteral("statement is not prepared");
        return false;
    }
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW) {
        done_ = false;
        return true;
    }
    done_ = true;
    if (rc == SQLITE_DONE)
        return true;
    error_ = describe(sqlite3_db_handle(stmt_), rc);
    return false;
}

int LiteStatement::columnCount() const {
    return stmt_ ? sqlite3_column_count(stmt_) : 0;
}

QString LiteStatement::ColumnName(qint16 position) const {
    if (!stmt_ || position < 0 || position >= columnCount())
        return {};
    return QString::fromUtf8(sqlite3_column_name(stmt_, position));
}

QVariant LiteStatement::ColumnValue(const QString &name) const {
    const int n = columnCount();
    for (int i = 0; i < n; ++i) {
        if (QString::fromUtf8(sqlite3_column_name(stmt_, i)) == name)
            return value(i);
    }
    return {};
}

bool LiteStatement::hasColumn(int position) const {
    return stmt_ && !done_ && position >= 0 && position < sqlite3_column_count(stmt_);
}

LiteStatement::Type LiteStatement::columnType(int position) const {
    if (!hasColumn(position))
        return Type::Null;
    return static_cast<Type>(sqlite3_column_type(stmt_, position));
}

QVariant LiteStatement::value(int position) const {
    if (!hasColumn(position))
        return {};
    switch (sqlite3_column_type(stmt_, position)) {
        case SQLITE_INTEGER:
            return QVariant::fromValue<qint64>(sqlite3_column_int64(stmt_, position));
        case SQLITE_FLOAT:
            return sqlite3_column_double(stmt_, position);
        case SQLITE_NULL:
            return {};
        case SQLITE_BLOB: {
            const auto *p = static_cast<const char *>(sqlite3_column_blob(stmt_, position));
            return QByteArray(p, sqlite3_column_bytes(stmt_, position));
        }
        default:
            return text(position);
    }
}

qint64 LiteStatement::integer(int position) const {
    return hasColumn(position) ? sqlite3_column_int64(stmt_, position) : 0;
}

double LiteStatement::real(int position) const {
    return hasColumn(position) ? sqlite3_column_double(stmt_, position) : 0.0;
}

QString LiteStatement::text(int position) const {
    if (!hasColumn(position))
        return {};
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, position));
    return QString::fromUtf8(p, sqlite3_column_bytes(stmt_, position));
}

QByteArrayView LiteStatement::utf8(int position) const {
    if (!hasColumn(position))
        return {};
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, position));
    return QByteArrayView(p, sqlite3_column_bytes(stmt_, position));
}

void LiteStatement::Close() {
    if (stmt_) {
        sqlite3_finalize(stmt_);
        stmt_ = nullptr;
    }
    done_ = true;
}

LiteConnection::~LiteConnection() {
    Close();
}

bool LiteConnection::Open(const QString &path) {
    // The connection is only ever used from the user-interface thread, so
    // SQLite need not lock it around every call (which halves the time of
    // reading a large result column by column).
    return openWith(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
}

bool LiteConnection::OpenReadOnly(const QString &path) {
    // Used by one thread at a time as well: the one that opened it.
    return openWith(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
}

void LiteConnection::fail(int rc, const QString &text) {
    lastErrorCode_ = rc & 0xff;
    lastError_ = text;
}

bool LiteConnection::isTransient(int resultCode) {
    switch (resultCode & 0xff) {
        case SQLITE_BUSY:
        case SQLITE_LOCKED:
        case SQLITE_FULL:
            return true;
        default:
            return false;
    }
}

void LiteConnection::setTrace(std::function<void(const QString &)> trace) {
    trace_ = std::move(trace);
    if (!db_)
        return;
    if (!trace_) {
        sqlite3_trace_v2(db_, 0, nullptr, nullptr);
        return;
    }
    auto callback = [](unsigned, void *context, void *statement, void *) -> int {
        auto *self = static_cast<LiteConnection *>(context);
        if (char *text = sqlite3_expanded_sql(static_cast<sqlite3_stmt *>(statement))) {
            self->trace_(QString::fromUtf8(text));
            sqlite3_free(text);
        }
        return 0;
    };
    sqlite3_trace_v2(db_, SQLITE_TRACE_STMT, callback, this);
}

bool LiteConnection::openWith(const QString &path, int flags) {
    Close();
    path_ = path;
    lastError_.clear();
    lastErrorCode_ = 0;
    sqlite3 *db = nullptr;
    const int rc = sqlite3_open_v2(path.toUtf8().constData(), &db, flags, nullptr);
    if (rc != SQLITE_OK) {
        fail(rc, describe(db, rc));
        sqlite3_close(db);
        return false;
    }
    // Another program (a backup tool, the sqlite3 shell) or the program's own
    // record writer may hold the file for a moment: wait for it a little,
    // but never long enough to freeze a window.
    sqlite3_busy_timeout(db, kDefaultBusyTimeoutMs);
    sqlite3_extended_result_codes(db, 1);
    db_ = db;
    if (trace_)
        setTrace(trace_);
    return true;
}

bool LiteConnection::Execute(const QString &sql) {
    lastError_.clear();
    lastErrorCode_ = 0;
    if (!db_) {
        fail(SQLITE_MISUSE, QStringLiteral("database is not open"));
        return false;
    }
    char *err = nullptr;
    const int rc = sqlite3_exec(db_, sql.toUtf8().constData(), nullptr, nullptr, &err);
    if (rc != SQLITE_OK) {
        fail(rc, err ? QString::fromUtf8(err) : describe(db_, rc));
        sqlite3_free(err);
        return false;
    }
    return true;
}

LiteStatement LiteConnection::prepare(const QString &sql) {
    LiteStatement st;
    lastError_.clear();
    lastErrorCode_ = 0;
    auto failed = [&](int rc, const QString &text) {
        fail(rc, text);
        st.error_ = text;
    };
    if (!db_) {
        failed(SQLITE_MISUSE, QStringLiteral("database is not open"));
        return st;
    }
    const QByteArray text = sql.toUtf8();
    const int rc = sqlite3_prepare_v2(db_, text.constData(), int(text.size()), &st.stmt_, nullptr);
    if (rc != SQLITE_OK) {
        failed(rc, describe(db_, rc));
        sqlite3_finalize(st.stmt_);
        st.stmt_ = nullptr;
    } else if (!st.stmt_) {
        failed(SQLITE_MISUSE, QStringLiteral("empty statement"));
    }
    return st;
}

void LiteConnection::Close() {
    if (db_) {
        // sqlite3_close_v2 lets statements still alive finish later instead of
        // refusing to close.
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

void LiteConnection::setBusyTimeout(int ms) {
    if (db_)
        sqlite3_busy_timeout(db_, ms);
}

int LiteConnection::changes() const {
    return db_ ? sqlite3_changes(db_) : 0;
}

LiteTransaction::LiteTransaction(LiteConnection &conn, Mode mode) : conn_(conn) {
    active_ = conn_.Execute(mode == Mode::Immediate ? QStringLiteral("BEGIN IMMEDIATE")
                                                    : QStringLiteral("BEGIN"));
}

LiteTransaction::~LiteTransaction() {
    if (active_)
        conn_.Execute(QStringLiteral("ROLLBACK"));
}

bool LiteTransaction::commit() {
    if (!active_)
        return false;
    if (!conn_.Execute(QStringLiteral("COMMIT"))) {
        return false;  // still active: the destructor rolls back
    }
    active_ = false;
    return true;
}

bool executeTogether(LiteConnection &conn, const QStringList &statements, QString *error) {
    auto fail = [&] {
        if (error)
            *error = conn.lastError();
        return false;
    };
    if (statements.size() == 1)
        return conn.Execute(statements.first()) || fail();
    LiteTransaction tx(conn);
    if (!tx.isActive())
        return fail();
    for (const QString &sql : statements) {
        if (!conn.Execute(sql))
            return fail();
    }
    return tx.commit() || fail();
}
