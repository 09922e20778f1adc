#include "store/RecordWriter.h"

#include "store/Clock.h"
#include "store/LiteConnection.h"
#include "store/ValueText.h"

#include <chrono>

const QString &PendingWrite::statementAt(const QString &nowTime, int msec) const {
    if (lateStatement.isEmpty() || dueTime.isEmpty())
        return statement;
    const bool sameSecond = nowTime == dueTime && msec < RecordWriter::kSecondMarginMs;
    return sameSecond ? statement : lateStatement;
}

RecordWriter::RecordWriter(const Clock &clock, QObject *parent) : QObject(parent), clock_(clock) {}

RecordWriter::~RecordWriter() {
    close(0);
}

bool RecordWriter::open(const QString &path, QString *error) {
    close(0);
    auto db = std::make_unique<LiteConnection>();
    if (!db->Open(path)) {
        if (error)
            *error = db->lastError();
        return false;
    }
    db->setBusyTimeout(kBusyTimeoutMs);
    db_ = std::move(db);
    stop_ = false;
    thread_ = std::thread([this] { run(); });
    return true;
}

bool RecordWriter::isOpen() const {
    return thread_.joinable();
}

QStringList RecordWriter::close(int timeoutMs) {
    QStringList left;
    if (!thread_.joinable())
        return left;
    if (timeoutMs > 0)
        flush(timeoutMs);
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        suspended_ = false;
    }
    wake_.notify_all();
    thread_.join();
    db_.reset();
    std::lock_guard lock(mutex_);
    for (const Group &g : queue_) {
        for (const PendingWrite &w : g.writes)
            left << (w.lateStatement.isEmpty() ? w.statement : w.lateStatement);
    }
    queue_.clear();
    queuedWrites_ = 0;
    return left;
}

void RecordWriter::submit(const QList<PendingWrite> &writes) {
    if (writes.isEmpty())
        return;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({writes});
        queuedWrites_ += int(writes.size());
    }
    wake_.notify_all();
}

void RecordWriter::suspend() {
    std::unique_lock lock(mutex_);
    suspended_ = true;
    idle_.wait(lock, [this] { return !busy_; });
}

void RecordWriter::resume() {
    {
        std::lock_guard lock(mutex_);
        suspended_ = false;
    }
    wake_.notify_all();
}

int RecordWriter::waiting() const {
    std::lock_guard lock(mutex_);
    return queuedWrites_;
}

bool RecordWriter::flush(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                          [this] { return queue_.empty() && !busy_; });
}

RecordWriter::Attempt RecordWriter::storeFront(std::unique_lock<std::mutex> &lock, int maxGroups) {
    // The groups stay queued while they are stored: a failure leaves them in
    // place, in order.
    QStringList statements;
    int groups = 0;
    const QDateTime now = clock_.now();
    const QString nowTime = recordTimeText(now);
    const int msec = now.time().msec();
    for (const Group &g : queue_) {
        if (groups >= maxGroups ||
            (groups > 0 && statements.size() + g.writes.size() > kBatchWrites))
            break;
        for (const PendingWrite &w : g.writes) statements << w.statementAt(nowTime, msec);
        ++groups;
    }
    busy_ = true;
    lock.unlock();
    Attempt attempt;
    {
        LiteTransaction tx(*db_, LiteTransaction::Mode::Immediate);
        bool ok = tx.isActive();
        for (const QString &sql : std::as_const(statements)) {
            if (!ok)
                break;
            ok = db_->Execute(sql);
        }
        ok = ok && tx.commit();
        if (ok) {
            attempt.stored = groups;
        } else {
            attempt.error = db_->lastError();
            attempt.transient = db_->lastErrorIsTransient();
        }
    }
    lock.lock();
    busy_ = false;
    return attempt;
}

void RecordWriter::popStored(int groups) {
    for (int i = 0; i < groups && !queue_.empty(); ++i) {
        queuedWrites_ -= int(queue_.front().writes.size());
        queue_.pop_front();
    }
}

int RecordWriter::dropOld(qint64 now) {
    // The queue is in the order the writes fell due: the old ones are at the
    // front, up to the first recent one.
    int dropped = 0;
    bool recentSeen = false;
    for (auto it = queue_.begin(); it != queue_.end() && !recentSeen;) {
        QList<PendingWrite> &writes = it->writes;
        for (qsizetype i = 0; i < writes.size();) {
            if (now - writes[i].dueMs <= kKeepMs) {
                recentSeen = true;
                break;
            }
            if (writes[i].keep) {
                ++i;
                continue;
            }
            writes.removeAt(i);
            ++dropped;
        }
        if (writes.isEmpty())
            it = queue_.erase(it);
        else
            ++it;
    }
    queuedWrites_ -= dropped;
    return dropped;
}

void RecordWriter::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || (!queue_.empty() && !suspended_); });
        if (queue_.empty() && stop_)
            break;
        const Attempt attempt = storeFront(lock, isolating_ ? 1 : kBatchWrites);
        if (attempt.stored > 0) {
            popStored(attempt.stored);
            const bool recovered = failing_ && queue_.empty();
            if (queue_.empty()) {
                failing_ = false;
                isolating_ = false;
                overflowSaid_ = false;
            }
            idle_.notify_all();
            if (recovered) {
                lock.unlock();
                Q_EMIT backlogChanged(0, QString());
                lock.lock();
            }
            continue;
        }
        for (Group &g : queue_) ++g.attempts;
        failing_ = true;
        int setAsideWrites = 0;
        bool retryNow = false;
        if (!attempt.transient) {
            // Waiting does not mend this. Find the group that fails by
            // storing one group at a time; the one that fails alone a few
            // times is given up, and the writes behind it go in.
            if (!isolating_) {
                isolating_ = true;
                retryNow = true;
            } else if (++queue_.front().hardFailures >= kSetAsideTries) {
                setAsideWrites = int(queue_.front().writes.size());
                popStored(1);
                isolating_ = false;
                retryNow = true;
            }
        }
        const int dropped = dropOld(clock_.steadyMs());
        const bool sayOverflow = dropped > 0 && !overflowSaid_;
        if (sayOverflow)
            overflowSaid_ = true;
        const int waitingNow = queuedWrites_;
        idle_.notify_all();
        lock.unlock();
        if (setAsideWrites > 0)
            Q_EMIT setAside(setAsideWrites, attempt.error);
        if (sayOverflow)
            Q_EMIT overflowed(dropped);
        Q_EMIT backlogChanged(waitingNow, attempt.error);
        lock.lock();
        if (stop_)
            break;  // the last attempt at the end of the program failed
        if (retryNow)
            continue;
        wake_.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return stop_; });
    }
}
