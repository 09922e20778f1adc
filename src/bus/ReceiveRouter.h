#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

// A window that takes replies from the bus in its hidden box rcv232.
class ReceiveTarget {
public:
    virtual ~ReceiveTarget() = default;
    // Called once for every received frame, as receive text. It runs also
    // when the text equals the one delivered before: a reply is never
    // dropped because it looks like the previous one.
    virtual void receiveText(const QString &text) = 0;
};

// rs232target: the window that gets the next receive text. Registering
// replaces the previous window. A window that is told to close, or is
// destroyed, is forgotten at once, so a late reply never reaches a closed
// window (it is read and dropped like any frame nobody waits for).
class ReceiveRouter {
public:
    ReceiveRouter();
    ~ReceiveRouter();
    ReceiveRouter(const ReceiveRouter &) = delete;
    ReceiveRouter &operator=(const ReceiveRouter &) = delete;

    void registerTarget(QObject *window, ReceiveTarget *target);
    // Forgets the window if it is the registered one.
    void unregister(const QObject *window);
    QObject *target() const { return window_.data(); }
    bool isRegistered(const QObject *window) const { return window && window_.data() == window; }

    // Hands the text to the registered window. False when none is registered
    // (the text is then dropped).
    bool deliver(const QString &text);

private:
    class CloseWatcher;

    QPointer<QObject> window_;
    ReceiveTarget *target_ = nullptr;
    std::unique_ptr<CloseWatcher> watcher_;
};
