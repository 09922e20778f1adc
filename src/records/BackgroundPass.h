#pragma once

#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

class QThread;
class QTimer;

// What a pass on a thread of its own shares with the window that started it:
// the request to stop, how far it has come and, for a pass whose end cannot be
// taken back (a file put in place), the claim of that end.
class PassControl {
public:
    bool cancelled() const { return state_.load(std::memory_order_acquire) == Cancelled; }
    // Per mille of the work done.
    void setProgress(int permille) { progress_.store(permille, std::memory_order_relaxed); }
    int progress() const { return progress_.load(std::memory_order_relaxed); }

    // The pass, just before an end that cannot be undone: true when it may go
    // ahead (a cancel no longer takes effect), false when it was cancelled.
    bool claimCompletion();
    // The owner: true when the pass is now cancelled, false when it had
    // claimed its end already.
    bool cancel();

private:
    enum State { Running, Claimed, Cancelled };
    std::atomic<int> state_{Running};
    std::atomic<int> progress_{0};
};

// One pass at a time on a thread of its own, for a window that stays usable
// meanwhile. The window learns of the end on its own thread; a cancelled pass
// ends at once for the window (its results are never shown as final) while
// its thread winds down by itself.
class BackgroundPass : public QObject {
    Q_OBJECT
public:
    // Runs on the pass's thread. It must not touch the window: it works on
    // data it owns (shared with the window through a shared pointer).
    using Work = std::function<void(PassControl &)>;
    // Runs on the window's thread when the pass ends; completed is false for a
    // cancelled pass.
    using Done = std::function<void(bool completed)>;

    explicit BackgroundPass(QObject *parent = nullptr);
    // Cancels a running pass without calling its Done, and waits for every
    // thread still ending.
    ~BackgroundPass() override;

    // Starts `work`; a pass still running is cancelled first (its Done runs
    // with false before this one starts).
    void start(Work work, Done done);
    // Cancels the running pass: its Done runs at once with false, unless the
    // pass had claimed its end (its Done then comes with true).
    void cancel();

    bool isRunning() const { return current_ != nullptr; }
    // Per mille of the running pass.
    int progress() const;
    // Passes started since this object was made.
    int startedCount() const { return started_; }

Q_SIGNALS:
    // About every 50 ms while a pass runs.
    void progressChanged(int permille);
    void runningChanged(bool running);

private:
    // Cancels the running pass without calling its Done and waits for every
    // thread still ending.
    void stopAll();

    struct Job {
        PassControl control;
        Done done;
    };
    void threadEnded(const std::shared_ptr<Job> &job);
    void endCurrent(bool completed);

    struct Thread {
        QThread *thread;
        std::shared_ptr<Job> job;
    };
    std::shared_ptr<Job> current_;
    std::vector<Thread> threads_;  // started and not yet ended
    QTimer *poll_;
    int started_ = 0;
};

// What a refresh does when it comes while a pass runs: one asked for by a
// timer tick is dropped (the running pass is that refresh), one asked for by
// the operator replaces the running pass.
enum class RefreshAction { Start, Replace, Skip };
RefreshAction refreshAction(bool passRunning, bool byTimer);
