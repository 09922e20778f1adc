#include "store/RecordWriter.h"

#include "store/LiteConnection.h"

#include <chrono>

RecordWriter::RecordWriter(QObject *parent) : QObject(parent) {}

RecordWriter::~RecordWriter() {
    close();
}

qint64 RecordWriter::steadyMs() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool RecordWriter::open(const QString &path, QString *error) {
    close();
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

void RecordWriter::close() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        suspended_ = false;
    }
    wake_.notify_all();
    thread_.join();
    db_.reset();
}

void RecordWriter::submit(const QList<PendingWrite> &writes) {
    if (writes.isEmpty())
        return;
    {
        std::lock_guard lock(mutex_);
        queue_.push_back({writes, 0});
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

int RecordWriter::storeFront(std::unique_lock<std::mutex> &lock, QString *error) {
    // The groups stay queued while they are stored: a failure leaves them in
    // place, in order.
    QStringList statements;
    int groups = 0;
    const qint64 now = steadyMs();
    for (const Group &g : queue_) {
        if (groups > 0 && statements.size() + g.writes.size() > kBatchWrites)
            break;
        for (const PendingWrite &w : g.writes) {
            const bool prompt = g.attempts == 0 && now - w.dueMs < kPromptMs;
            statements << (prompt || w.lateStatement.isEmpty() ? w.statement : w.lateStatement);
        }
        ++groups;
    }
    busy_ = true;
    lock.unlock();
    bool ok = true;
    {
        LiteTransaction tx(*db_, LiteTransaction::Mode::Immediate);
        ok = tx.isActive();
        for (const QString &sql : std::as_const(statements)) {
            if (!ok)
                break;
            ok = db_->Execute(sql);
        }
        ok = ok && tx.commit();
        if (!ok && error)
            *error = db_->lastError();
    }
    lock.lock();
    busy_ = false;
    return ok ? groups : 0;
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
        QString error;
        const int stored = storeFront(lock, &error);
        if (stored > 0) {
            for (int i = 0; i < stored; ++i) {
                queuedWrites_ -= int(queue_.front().writes.size());
                queue_.pop_front();
            }
            const bool recovered = failing_ && queue_.empty();
            if (queue_.empty()) {
                failing_ = false;
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
        // Not taken: everything waits, in order, and is tried again.
        for (Group &g : queue_) ++g.attempts;
        failing_ = true;
        const int dropped = dropOld(steadyMs());
        const bool sayOverflow = dropped > 0 && !overflowSaid_;
        if (sayOverflow)
            overflowSaid_ = true;
        const int waitingNow = queuedWrites_;
        idle_.notify_all();
        lock.unlock();
        if (sayOverflow)
            Q_EMIT overflowed(dropped);
        Q_EMIT backlogChanged(waitingNow, error);
        lock.lock();
        if (stop_)
            break;  // the last attempt at the end of the program failed
        wake_.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return stop_; });
    }
}
