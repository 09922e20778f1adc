#pragma once

#include "notify/NotifyChannel.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class Clock;
class QTimer;

// Sends the alarm messages that wait in table notifylog (queued there by the
// record writer together with each alarm, see notify::queueForLastAlarm) to
// their channels, on a thread of its own with a connection of its own:
// neither a window nor the poll cycle ever waits for the network.
//
// - Once a second it looks for waiting rows. A channel gets at most one
//   message every kSpacingMs (10 s); each message lists what waited for the
//   channel (up to 20 events), so that many alarms at once do not flood it.
// - A row counts as sent only when the service said so (a robot's errcode
//   or code 0, a webhook's HTTP 2xx, an SMTP server's acceptance of the
//   mail). Otherwise the channel waits 10 s, then 20, 40, … up to 10 min
//   before it tries again; a row still waiting 24 h after it was queued is
//   given up (失败, with the last error).
// - A channel with repeat_minutes gets a reminder every N minutes while an
//   alarm stays on (its 开始 is the latest row of its module and kind).
// - Everything it knows is in the database, so a restart, an outage or a
//   crash loses nothing: after a restart the waiting rows go out. A message
//   whose answer was lost with a crash is sent again (at least once).
//
// Usable without a window (the logger); the signals give one log line per
// event.
class Notifier : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 1000;
    static constexpr qint64 kSpacingMs = 10'000;
    static constexpr qint64 kFirstRetryMs = 10'000;
    static constexpr qint64 kMaxRetryMs = 600'000;
    static constexpr qint64 kGiveUpMs = 24LL * 3600 * 1000;
    static constexpr qint64 kReminderCheckMs = 60'000;
    static constexpr int kDefaultTimeoutMs = 30'000;

    // `databasePath` is the program's mydb.db; `clock` decides the pauses,
    // the give-up and the reminders, and must outlive the notifier.
    Notifier(const QString &databasePath, const Clock &clock, QObject *parent = nullptr);
    // Stops as stop() does.
    ~Notifier() override;

    // How long one message may take (connect, send, answer); for tests.
    // Takes effect at the next start().
    void setTimeoutMs(int ms) { timeoutMs_ = ms; }

    // Opens the notifier's connection, starts its thread and its one-second
    // timer. False, with the reason, when the file cannot be opened.
    bool start(QString *error = nullptr);
    // Ends the thread; a message under way is abandoned and its rows wait
    // again (they go out after the next start).
    void stop();

    // Holds the notifier between two of its database operations (a backup
    // copies the file meanwhile) and lets it go on; both from the thread that
    // owns the notifier. Suspending waits for an operation under way (at
    // most about a second); messages on their way meanwhile are stored after.
    void suspend();
    void resume();

    // The timer's handler: reads the clock and lets the thread look at the
    // outbox. Tests call it after moving their clock.
    void tick();
    // The last tick has been handled and no message is under way.
    bool isIdle() const;

    // 测试发送: one test message through `channel` (saved or not), on a
    // thread of its own; `done` runs once, in the thread of `context` and
    // only while `context` lives, with whether it was delivered and the
    // answer in a few words. Nothing is written to the database.
    static void testSend(const NotifyChannel &channel, QObject *context,
                         std::function<void(bool delivered, const QString &answer)> done,
                         int timeoutMs = 15000);

Q_SIGNALS:
    // One line for a log each (emitted from the notifier's thread):
    // "通知已发出：「值班群」（企业微信机器人）2条，errcode 0（ok）"
    void sent(qint64 channel, const QString &line);
    // "通知未能发出：「值班群」（企业微信机器人）：HTTP 500，20秒后再试"
    void failed(qint64 channel, const QString &line);
    // "通知已放弃：「值班群」（企业微信机器人）3条，24小时内未能发出：HTTP 500"
    void gaveUp(qint64 channel, const QString &line);

private:
    class Worker;
    QString path_;
    const Clock &clock_;
    int timeoutMs_ = kDefaultTimeoutMs;
    QTimer *timer_ = nullptr;
    std::unique_ptr<Worker> worker_;
    bool suspended_ = false;
};
