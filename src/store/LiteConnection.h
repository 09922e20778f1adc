#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

struct sqlite3;
struct sqlite3_stmt;

// The one database connection of the program and the statements it hands out.
// The operations map one to one onto SQLite's: Open (sqlite3_open_v2),
// Execute (sqlite3_exec), prepare (sqlite3_prepare_v2), Step (sqlite3_step),
// ColumnName / ColumnValue (sqlite3_column_*), Close (sqlite3_finalize /
// sqlite3_close). Nothing here throws: every failure is reported by the return
// value and described by lastError()/error(), so callers can show it and go on.

// A compiled SELECT. Readers follow one order: prepare, Step once, then while
// !done() read the current row and Step again, then Close.
class LiteStatement {
public:
    LiteStatement() = default;
    LiteStatement(const LiteStatement &) = delete;
    LiteStatement &operator=(const LiteStatement &) = delete;
    LiteStatement(LiteStatement &&other) noexcept;
    LiteStatement &operator=(LiteStatement &&other) noexcept;
    ~LiteStatement();

    // False when prepare failed; error() then says why.
    bool isValid() const { return stmt_ != nullptr; }
    const QString &error() const { return error_; }
    bool failed() const { return !error_.isEmpty(); }
    // SQLite's primary result code of the failure (SQLITE_BUSY, …), 0 when none.

    // Moves to the next row. Returns false on an error (the statement is then
    // done and error() says what failed).
    bool Step();
    // True once the last Step found no further row (or failed).
    bool done() const { return done_; }

    int columnCount() const;
    QString ColumnName(qint16 position) const;
    // The value of the column with that name in the current row: integer,
    // real, text or null (an invalid QVariant), as SQLite holds it.
    QVariant ColumnValue(const QString &name) const;

    // Position-based access for readers that go through many rows. Without a
    // current row or outside the columns they give null, 0 or an empty text.
    enum class Type { Integer = 1, Real = 2, Text = 3, Blob = 4, Null = 5 };
    Type columnType(int position) const;
    QVariant value(int position) const;
    qint64 integer(int position) const;
    double real(int position) const;
    QString text(int position) const;
    QByteArrayView utf8(int position) const;

    void Close();

private:
    friend class LiteConnection;
    bool hasColumn(int position) const;
    sqlite3_stmt *stmt_ = nullptr;
    bool done_ = true;
    QString error_;
};

class LiteConnection {
public:
    LiteConnection() = default;
    LiteConnection(const LiteConnection &) = delete;
    LiteConnection &operator=(const LiteConnection &) = delete;
    ~LiteConnection();

    // Opens (or creates) the database file. False on failure, see lastError().
    bool Open(const QString &path);
    // Opens an existing database file for reading only: a second connection
    // for a reader on a thread of its own. It never creates or changes the
    // file. False on failure, see lastError().
    bool OpenReadOnly(const QString &path);
    // Runs one statement (or several separated by ';') and commits it unless a
    // transaction is open. False on failure, see lastError().
    bool Execute(const QString &sql);
    LiteStatement prepare(const QString &sql);
    void Close();

    bool isOpen() const { return db_ != nullptr; }
    const QString &path() const { return path_; }
    const QString &lastError() const { return lastError_; }
    // SQLite's primary result code of the last failure, 0 after a success.
    int lastErrorCode() const { return lastErrorCode_; }
    // The last failure was the database being busy, locked by another
    // connection or full: the same statement may well succeed later. Any other
    // failure (a missing table, a column the statement names that is not
    // there, a read-only file) stays until someone changes the file.
    bool lastErrorIsTransient() const { return isTransient(lastErrorCode_); }
    static bool isTransient(int resultCode);

    // Every statement text this connection runs, as SQLite expands it, goes
    // to `trace` (tests look at what reaches the database); empty: none.
    void setTrace(std::function<void(const QString &)> trace);

    // Rows changed by the last INSERT, UPDATE or DELETE.
    int changes() const;

    // How long a statement waits for another connection's lock before it
    // fails with "database is locked".
    static constexpr int kDefaultBusyTimeoutMs = 100;
    void setBusyTimeout(int ms);

private:
    // The raw handle stays in store: only the scan that reads records with
    // SQLite's own calls uses it.
    friend class RowScan;
    sqlite3 *handle() const { return db_; }
    bool openWith(const QString &path, int flags);

    void fail(int rc, const QString &text);

    sqlite3 *db_ = nullptr;
    QString path_;
    QString lastError_;
    int lastErrorCode_ = 0;
    std::function<void(const QString &)> trace_;
};

// Opens a transaction when constructed and rolls it back when it goes out of
// scope without commit(), so that a group of writes lands whole or not at all.
class LiteTransaction {
public:
    // Deferred takes the write lock at the first write; Immediate at once, so
    // that a locked database shows at the start and not half-way.
    enum class Mode { Deferred, Immediate };
    explicit LiteTransaction(LiteConnection &conn, Mode mode = Mode::Deferred);
    ~LiteTransaction();
    LiteTransaction(const LiteTransaction &) = delete;
    LiteTransaction &operator=(const LiteTransaction &) = delete;

    bool isActive() const { return active_; }
    bool commit();

private:
    LiteConnection &conn_;
    bool active_ = false;
};

// Runs the statements in order: one alone as it is, several in one
// transaction, so that they land whole or not at all. False, with the
// database's answer in *error, when one failed (none of them is then stored).
bool executeTogether(LiteConnection &conn, const QStringList &statements, QString *error = nullptr);
