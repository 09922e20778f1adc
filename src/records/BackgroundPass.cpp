#include "records/BackgroundPass.h"

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
}

BackgroundPass::~BackgroundPass() {
    if (current_)
        current_->control.cancel();
    current_.reset();
    for (QThread *thread : threads_) {
        thread->wait();
        delete thread;
    }
}

void BackgroundPass::start(Work work, Done done) {
    if (current_)
        cancel();
    auto job = std::make_shared<Job>();
    job->done = std::move(done);
    // The thread keeps the job (and so its control) alive until it ends,
    // whatever the window does meanwhile.
    QThread *thread = QThread::create([job, work = std::move(work)] { work(job->control); });
    connect(
        thread, &QThread::finished, this, [this, thread, job] { threadEnded(thread, job); },
        Qt::QueuedConnection);
    threads_.push_back(thread);
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

void BackgroundPass::threadEnded(QThread *thread, const std::shared_ptr<Job> &job) {
    // finished is sent just before the thread's end: wait for the rest.
    thread->wait();
    threads_.erase(std::remove(threads_.begin(), threads_.end(), thread), threads_.end());
    delete thread;
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
