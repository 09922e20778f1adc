#pragma once

#include <QFuture>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>

template <class T>
class QPromise;
template <class T>
class QFutureWatcher;
class QThreadPool;

// What work on a thread of the pool shares with the window that started it:
// the request to stop, how far it has come and, for work whose end cannot be
// taken back (a file put in place), the claim of that end. Made without a
// promise (tests, benchmarks) it is only cancelled by cancel().
class PassControl {
public:
    PassControl() = default;
    PassControl(QPromise<void> &promise, std::shared_ptr<std::atomic<int>> state);

    bool cancelled() const;
    // Per mille of the work done.
    void setProgress(int permille);
    int progress() const { return progress_; }

    // The work, just before an end that cannot be undone: true when it may go
    // ahead (a cancel no longer takes effect), false when it was cancelled.
    bool claimCompletion();
    // True when the work is now cancelled, false when it had claimed its end.
    bool cancel();

    enum State { Running, Claimed, Cancelled };

private:
    QPromise<void> *promise_ = nullptr;
    std::shared_ptr<std::atomic<int>> state_ = std::make_shared<std::atomic<int>>(Running);
    int progress_ = 0;
};

// One piece of work at a time on Qt's thread pool (QtConcurrent::run), for a
// window that stays usable meanwhile. Progress and the end arrive on the
// window's thread through a QFutureWatcher; a cancelled piece of work ends at
// once for the window (its results are never shown as final) while its
// thread winds down by itself (QFuture::cancel).
class BackgroundPass : public QObject {
    Q_OBJECT
public:
    // Runs on a thread of the pool. It must not touch the window: it works on
    // data it owns (shared with the window through a shared pointer).
    using Work = std::function<void(PassControl &)>;
    // Runs on the window's thread when the work ends; completed is false for
    // work that was cancelled.
    using Done = std::function<void(bool completed)>;

    explicit BackgroundPass(QObject *parent = nullptr);
    // Cancels running work without calling its Done.
    ~BackgroundPass() override;

    // Starts `work`; work still running is cancelled first (its Done runs with
    // false before this one starts).
    void start(Work work, Done done);
    // Cancels the running work: its Done runs at once with false, unless the
    // work had claimed its end (its Done then comes with true).
    void cancel();

    bool isRunning() const { return running_ != nullptr; }
    // Per mille of the running work.
    int progress() const;
    // Work started since this object was made.
    int startedCount() const { return started_; }

    // The pool of the record windows' work. At the program's end every piece
    // of work is cancelled and waited for, so that none runs on past it.
    static QThreadPool *pool();

Q_SIGNALS:
    // A few times a second while work runs.
    void progressChanged(int permille);
    void runningChanged(bool running);

private:
    struct Running;
    void end(bool completed);

    std::unique_ptr<Running> running_;
    int started_ = 0;
};

// What a refresh does when it comes while a pass runs: one asked for by a
// timer tick is dropped (the running pass is that refresh), one asked for by
// the operator replaces the running pass.
enum class RefreshAction { Start, Replace, Skip };
RefreshAction refreshAction(bool passRunning, bool byTimer);
