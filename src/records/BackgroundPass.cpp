#include "records/BackgroundPass.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <algorithm>

bool PassControl::claimCompletion() {
    int expected = Running;
    return state_.compare_exchange_strong(expected, Claimed, std::memory_order_acq_rel) ||
           expected == Claimed;
}

bool PassControl::cancel() {
    int expected = Running;
    return state_.compare_exchange_strong(expected, Cancelled, std::memory_order_acq_rel) ||
           expected == Cancelled;
}

BackgroundPass::BackgroundPass(QObject *parent) : QObject(parent), poll_(new QTimer(this)) {
    poll_->setInterval(50);
    connect(poll_, &QTimer::timeout, this, [this] {
        if (current_)
            Q_EMIT progressChanged(current_->control.progress());
    });
    // Windows outlive the event loop at the program's end; their passes must
    // not run on into it.
    if (QCoreApplication *app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, &BackgroundPass::stopAll);
}

BackgroundPass::~BackgroundPass() {
    stopAll();
}

void BackgroundPass::stopAll() {
    if (current_)
        current_->control.cancel();
    current_.reset();
    poll_->stop();
    for (const Thread &r : threads_) {
        r.thread->wait();
        delete r.thread;
    }
    threads_.clear();
}

void BackgroundPass::start(Work work, Done done) {
    if (current_)
        cancel();
    auto job = std::make_shared<Job>();
    job->done = std::move(done);
    // The thread keeps the job (and so its control) alive until it ends,
    // whatever the window does meanwhile.
    QThread *thread = QThread::create([job, work = std::move(work)] { work(job->control); });
    // The job, not the thread's address, names the thread when it has ended.
    connect(
        thread, &QThread::finished, this, [this, job] { threadEnded(job); }, Qt::QueuedConnection);
    threads_.push_back({thread, job});
    current_ = job;
    ++started_;
    thread->start();
    poll_->start();
    Q_EMIT runningChanged(true);
    Q_EMIT progressChanged(0);
}

void BackgroundPass::cancel() {
    if (current_ && current_->control.cancel())
        endCurrent(false);
}

int BackgroundPass::progress() const {
    return current_ ? current_->control.progress() : 0;
}

void BackgroundPass::threadEnded(const std::shared_ptr<Job> &job) {
    const auto it = std::find_if(threads_.begin(), threads_.end(),
                                 [&job](const Thread &r) { return r.job == job; });
    if (it == threads_.end())
        return;  // stopped and gone already
    // finished is sent just before the thread's end: wait for the rest.
    it->thread->wait();
    delete it->thread;
    threads_.erase(it);
    if (job == current_)
        endCurrent(true);
}

void BackgroundPass::endCurrent(bool completed) {
    const std::shared_ptr<Job> job = std::move(current_);
    current_.reset();
    poll_->stop();
    Q_EMIT runningChanged(false);
    if (job->done)
        job->done(completed);
}

RefreshAction refreshAction(bool passRunning, bool byTimer) {
    if (!passRunning)
        return RefreshAction::Start;
    return byTimer ? RefreshAction::Skip : RefreshAction::Replace;
}
