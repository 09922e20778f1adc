#include "bus/ReceiveRouter.h"

void ReceiveRouter::registerTarget(QObject *window, ReceiveTarget *target)
{
    window_ = window;
    target_ = window ? target : nullptr;
}

void ReceiveRouter::unregister(const QObject *window)
{
    if (window && window_.data() == window) {
        window_ = nullptr;
        target_ = nullptr;
    }
}

bool ReceiveRouter::deliver(const QString &text)
{
    if (!window_ || !target_)
        return false;
    target_->receiveText(text);
    return true;
}
