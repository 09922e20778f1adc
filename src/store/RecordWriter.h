#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

class LiteConnection;

// One write that the acquisition wants in the database: the statement to run
// when it is stored at once, and the one to run when it had to wait (it
// carries the time the write fell due, so a late record keeps its time).
struct PendingWrite {
    QString statement;
    QString lateStatement;
    qint64 dueMs = 0;  // steady clock (RecordWriter::steadyMs) when it fell due
    // Never dropped, however long the database refuses it (the rows of the
    // alarm log: few, and each one matters).
    bool keep = false;
};

// Stores the acquisition's records on a thread of its own, through a
// connection of its own, so that a locked or slow database never holds up a
// window, a poll or a count.
//
// Writes are stored in the order they were submitted, each group of one
// submit in one transaction. When the database does not take them (locked by
// another program, disk full), they wait and are tried again every
// kRetryMs; what waits longer than kKeepMs (one hour) is dropped, oldest
// first, and said once, except the writes marked `keep`. The writer never changes anything of the
// file beyond the rows it inserts.
class RecordWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int kRetryMs = 250;
    static constexpr int kBusyTimeoutMs = 100;
    static constexpr qint64 kKeepMs = 3600 * 1000;
    // A write stored within this time of falling due runs its plain statement.
    static constexpr qint64 kPromptMs = 1000;

    explicit RecordWriter(QObject *parent = nullptr);
    // Tries once more to store what waits (bounded), then stops the thread.
    ~RecordWriter() override;

    // The steady clock of dueMs.
    static qint64 steadyMs();

    // Opens the writer's connection on `path` and starts its thread. False,
    // with the reason, when the file cannot be opened.
    bool open(const QString &path, QString *error = nullptr);
    void close();
    bool isOpen() const;

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
    // For the end of the program and for tests.
    bool flush(int timeoutMs);

Q_SIGNALS:
    // The number of writes waiting changed after an attempt: 0 once
    // everything is stored; otherwise what the database answered.
    void backlogChanged(int waiting, const QString &error);
    // Writes older than an hour were dropped (said once per stretch of
    // failures).
    void overflowed(int dropped);

private:
    struct Group {
        QList<PendingWrite> writes;
        int attempts = 0;
    };
    void run();
    // Stores the groups at the front (up to kBatchWrites writes) in one
    // transaction; returns how many groups were stored, 0 on failure.
    int storeFront(std::unique_lock<std::mutex> &lock, QString *error);
    // Drops what fell due more than kKeepMs before `now` and is not marked
    // `keep`; returns how many.
    int dropOld(qint64 now);

    static constexpr int kBatchWrites = 1000;
    std::unique_ptr<LiteConnection> db_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Group> queue_;
    int queuedWrites_ = 0;
    bool stop_ = false;
    bool suspended_ = false;
    bool busy_ = false;     // a transaction is under way
    bool failing_ = false;  // the last attempt failed
    bool overflowSaid_ = false;
    std::thread thread_;
};
