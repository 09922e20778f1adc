#include "bus/ReceiveRouter.h"

#include <QEvent>

// Watches the registered window for its close event.
class ReceiveRouter::CloseWatcher : public QObject {
public:
    explicit CloseWatcher(ReceiveRouter *router) : router_(router) {}

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Close)
            router_->unregister(watched);
        return false;
    }

private:
    ReceiveRouter *router_;
};

ReceiveRouter::ReceiveRouter() : watcher_(std::make_unique<CloseWatcher>(this)) {}

ReceiveRouter::~ReceiveRouter() {
    unregister(window_.data());
}

void ReceiveRouter::registerTarget(QObject *window, ReceiveTarget *target) {
    if (window_ && window_.data() != window)
        window_->removeEventFilter(watcher_.get());
    window_ = window;
    target_ = window ? target : nullptr;
    if (window)
        window->installEventFilter(watcher_.get());
}

void ReceiveRouter::unregister(const QObject *window) {
    if (window && window_.data() == window) {
        window_->removeEventFilter(watcher_.get());
        window_ = nullptr;
        target_ = nullptr;
    }
}

bool ReceiveRouter::deliver(const QString &text) {
    if (!window_ || !target_)
        return false;
    target_->receiveText(text);
    return true;
}
