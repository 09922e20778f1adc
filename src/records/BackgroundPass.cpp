#include "records/BackgroundPass.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QPromise>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

namespace {
// Set when the program ends: all work stops.
std::atomic<bool> quitting{false};
}  // namespace

PassControl::PassControl(QPromise<void> &promise, std::shared_ptr<std::atomic<int>> state)
    : promise_(&promise), state_(std::move(state)) {}

bool PassControl::cancelled() const {
    return state_->load(std::memory_order_acquire) == Cancelled ||
           (promise_ && promise_->isCanceled()) || quitting.load(std::memory_order_relaxed);
}

void PassControl::setProgress(int permille) {
    progress_ = permille;
    if (promise_)
        promise_->setProgressValue(permille);
}

bool PassControl::claimCompletion() {
    int expected = Running;
    return state_->compare_exchange_strong(expected, Claimed, std::memory_order_acq_rel) ||
           expected == Claimed;
}

bool PassControl::cancel() {
    int expected = Running;
    return state_->compare_exchange_strong(expected, Cancelled, std::memory_order_acq_rel) ||
           expected == Cancelled;
}

struct BackgroundPass::Running {
    QFuture<void> future;
    std::shared_ptr<std::atomic<int>> state;
    QFutureWatcher<void> *watcher;
    Done done;

    // Marks the work cancelled; false when it had claimed its end already.
    bool markCancelled() {
        int expected = PassControl::Running;
        return state->compare_exchange_strong(expected, PassControl::Cancelled) ||
               expected == PassControl::Cancelled;
    }
    // The work is told to stop and does not report to the window any more.
    void stop() {
        markCancelled();
        watcher->disconnect();
        watcher->deleteLater();
        future.cancel();
    }
};

QThreadPool *BackgroundPass::pool() {
    static QThreadPool *pool = [] {
        QCoreApplication *app = QCoreApplication::instance();
        auto *p = new QThreadPool(app);
        // A backup of a large file, an export and the passes of the lists and
        // the chart may all run at once.
        p->setMaxThreadCount(std::max(4, QThread::idealThreadCount()));
        if (app) {
            QObject::connect(app, &QCoreApplication::aboutToQuit, p, [p] {
                quitting = true;
                p->waitForDone();
            });
        }
        return p;
    }();
    return pool;
}

BackgroundPass::BackgroundPass(QObject *parent) : QObject(parent) {}

BackgroundPass::~BackgroundPass() {
    if (running_)
        running_->stop();
}

void BackgroundPass::start(Work work, Done done) {
    cancel();
    if (running_)
        running_->stop();  // claimed its end: it goes on unheard
    auto state = std::make_shared<std::atomic<int>>(PassControl::Running);
    auto *watcher = new QFutureWatcher<void>(this);
    running_ = std::make_unique<Running>(Running{{}, state, watcher, std::move(done)});
    connect(watcher, &QFutureWatcherBase::progressValueChanged, this,
            &BackgroundPass::progressChanged);
    connect(watcher, &QFutureWatcherBase::finished, this, [this] { end(true); });
    running_->future =
        QtConcurrent::run(pool(), [work = std::move(work), state](QPromise<void> &promise) {
            promise.setProgressRange(0, 1000);
            PassControl control(promise, state);
            work(control);
        });
    watcher->setFuture(running_->future);
    ++started_;
    Q_EMIT runningChanged(true);
    Q_EMIT progressChanged(0);
}

void BackgroundPass::cancel() {
    // Work that had claimed its end ends as completed, when it has.
    if (running_ && running_->markCancelled()) {
        running_->stop();
        end(false);
    }
}

int BackgroundPass::progress() const {
    return running_ ? running_->watcher->progressValue() : 0;
}

void BackgroundPass::end(bool completed) {
    const std::unique_ptr<Running> ended = std::move(running_);
    ended->watcher->deleteLater();
    Q_EMIT runningChanged(false);
    if (ended->done)
        ended->done(completed);
}

RefreshAction refreshAction(bool passRunning, bool byTimer) {
    if (!passRunning)
        return RefreshAction::Start;
    return byTimer ? RefreshAction::Skip : RefreshAction::Replace;
}
