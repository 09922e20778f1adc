#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class Clock;
class LiteConnection;

// One write that the acquisition wants in the database: the statement to run
// when it is stored within the second it fell due, and the one that carries
// that second (dueTime) for when it is stored later, so that a record always
// keeps the second it fell due.
struct PendingWrite {
    QString statement;
    QString lateStatement;
    QString dueTime;   // the records' form; empty: `statement` is always right
    qint64 dueMs = 0;  // steady clock when it fell due (the one-hour limit)
    // Never dropped for waiting, however long the database refuses it (the
    // rows of the alarm log: few, and each one matters).
    bool keep = false;

    // The statement for a write stored at the record time `nowTime`, `msec`
    // milliseconds into that second. Near the end of the second the one with
    // the due time is taken: the clock may turn over before the database
    // stamps the row.
    const QString &statementAt(const QString &nowTime, int msec) const;
};

// Stores the acquisition's records and alarm rows on a thread of its own,
// through a connection of its own, so that a locked or slow database never
// holds up a window, a poll or a count.
//
// Writes are stored in the order they were submitted, each group of one
// submit in one transaction. When the database is busy, locked by another
// program or full, they wait and are tried again every kRetryMs; what waits
// longer than kKeepMs (one hour) is dropped, oldest first, and said once,
// except the writes marked `keep`. A group that fails for any other reason
// (a table made with other columns, a read-only file) is tried alone
// kSetAsideTries times and then set aside, said once, so that the writes
// behind it go in. The writer never changes anything of the file beyond the
// rows it inserts.
class RecordWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 250;
    static constexpr int kBusyTimeoutMs = 100;
    static constexpr qint64 kKeepMs = 3600 * 1000;
    static constexpr int kSetAsideTries = 3;
    // Past this millisecond of its second a write no longer counts as stored
    // within the second it fell due.
    static constexpr int kSecondMarginMs = 900;

    explicit RecordWriter(const Clock &clock, QObject *parent = nullptr);
    // Stops the thread; what still waits is given up (close() first to keep it).
    ~RecordWriter() override;

    // Opens the writer's connection on `path` and starts its thread. False,
    // with the reason, when the file cannot be opened.
    bool open(const QString &path, QString *error = nullptr);
    bool isOpen() const;
    // Gives what waits up to `timeoutMs` to be stored, stops the thread and
    // returns the statements that are still not stored (each the one that
    // carries its due time), in order.
    QStringList close(int timeoutMs = 0);

    // Queues writes that fell due together; returns at once.
    void submit(const QList<PendingWrite> &writes);

    // Holds the writer between two transactions (a backup copies the file
    // meanwhile) and lets it go on. Suspending waits for a transaction under
    // way, which takes at most the busy timeout (about 100 ms).
    void suspend();
    void resume();

    // Writes not stored yet.
    int waiting() const;
    // Runs until nothing waits or the time is up; true when nothing waits.
    bool flush(int timeoutMs);

Q_SIGNALS:
    // The number of writes waiting changed after an attempt: 0 once
    // everything is stored; otherwise what the database answered.
    void backlogChanged(int waiting, const QString &error);
    // Writes older than an hour were dropped (said once per stretch of
    // failures).
    void overflowed(int dropped);
    // A group of `writes` writes failed kSetAsideTries times for a reason
    // that waiting does not mend, and was given up.
    void setAside(int writes, const QString &error);

private:
    struct Group {
        QList<PendingWrite> writes;
        int attempts = 0;      // failed attempts of any kind
        int hardFailures = 0;  // failed alone, for a reason that stays
    };
    struct Attempt {
        int stored = 0;  // groups stored
        bool transient = false;
        QString error;
    };
    void run();
    // Stores up to `maxGroups` groups at the front (and up to kBatchWrites
    // writes) in one transaction.
    Attempt storeFront(std::unique_lock<std::mutex> &lock, int maxGroups);
    // Drops what fell due more than kKeepMs before `now` and is not marked
    // `keep`; returns how many.
    int dropOld(qint64 now);
    void popStored(int groups);

    static constexpr int kBatchWrites = 1000;
    const Clock &clock_;
    std::unique_ptr<LiteConnection> db_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Group> queue_;
    int queuedWrites_ = 0;
    bool stop_ = false;
    bool suspended_ = false;
    bool busy_ = false;       // a transaction is under way
    bool failing_ = false;    // the last attempt failed
    bool isolating_ = false;  // a batch failed for a lasting reason: one group at a time
    bool overflowSaid_ = false;
    std::thread thread_;
};
