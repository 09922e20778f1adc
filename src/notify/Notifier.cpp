#include "notify/Notifier.h"

#include "notify/NotifyStatements.h"
#include "notify/NotifyTransfer.h"
#include "store/Clock.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/ValueText.h"

#include <QThread>
#include <QTimer>

#include <curl/curl.h>

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {
constexpr int kBusyTimeoutMs = 1000;

QString waiting() {
    return sql::quoted(QString::fromUtf8(notify::kWaiting));
}

QString idList(const QList<qint64> &ids) {
    QStringList out;
    for (qint64 id : ids) out << QString::number(id);
    return out.join(QLatin1Char(','));
}

QString pauseText(qint64 ms) {
    return ms % 60'000 == 0 ? QString::number(ms / 60'000) + QStringLiteral("分钟")
                            : QString::number(ms / 1000) + QStringLiteral("秒");
}
}  // namespace

// The thread that does the work, with its connection and its libcurl multi
// handle. The owner's thread calls start(), stop(), post(), idle() and
// database(); everything else runs on the worker's thread, whose idea of the
// time is that of the last tick (pauses are measured from the tick that
// saw a message fail).
class Notifier::Worker {
public:
    struct Now {
        QDateTime wall;
        qint64 steady = 0;
    };

    Worker(Notifier *owner, int timeoutMs) : owner_(owner), timeoutMs_(timeoutMs) {}
    ~Worker() { stop(); }

    bool start(const QString &path, QString *error);
    void stop();
    void post(const Now &now);
    bool idle() const {
        std::lock_guard lock(mutex_);
        return !tickPending_ && !ticking_ && busyChannels_ == 0;
    }
    // Held by the thread around every database operation, and by suspend().
    std::mutex &database() { return database_; }

private:
    struct ChannelState {
        qint64 nextAt = 0;  // steady time of the earliest next message
        qint64 pause = 0;   // after the last failure; 0 after a success
        bool busy = false;  // a message under way, or its outcome not stored yet
    };
    struct Flight {
        NotifyChannel channel;
        QList<qint64> rows;
        std::unique_ptr<NotifyTransfer> transfer;
    };
    struct Outcome {
        NotifyChannel channel;
        QList<qint64> rows;
        notifymsg::Answer answer;
        qint64 pause = 0;
    };

    void run();
    void handleTick();
    void giveUpOld(const std::map<qint64, NotifyChannel> &channels);
    void queueReminders(const std::map<qint64, NotifyChannel> &channels);
    void sendWaiting(const NotifyChannel &channel);
    void finish(CURL *easy, CURLcode code);
    // Stores the outcomes in order; false when the database refused one
    // (it is tried again at the next tick).
    bool storeOutcomes();
    void setBusy(ChannelState &state, bool busy);

    Notifier *owner_;
    int timeoutMs_;
    LiteConnection db_;
    CURLM *multi_ = nullptr;
    std::thread thread_;

    std::mutex database_;
    mutable std::mutex mutex_;
    bool stop_ = false;
    bool tickPending_ = false;
    bool ticking_ = false;
    int busyChannels_ = 0;
    Now pending_;

    // The thread's own.
    Now now_;
    std::map<qint64, ChannelState> states_;
    std::vector<Flight> flights_;
    std::vector<Outcome> outcomes_;
    std::optional<qint64> lastReminderCheck_;
};

bool Notifier::Worker::start(const QString &path, QString *error) {
    if (!db_.Open(path)) {
        if (error)
            *error = db_.lastError();
        return false;
    }
    db_.setBusyTimeout(kBusyTimeoutMs);
    multi_ = curl_multi_init();
    thread_ = std::thread([this] { run(); });
    return true;
}

void Notifier::Worker::stop() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    curl_multi_wakeup(multi_);
    thread_.join();
    curl_multi_cleanup(multi_);
    multi_ = nullptr;
    db_.Close();
}

void Notifier::Worker::post(const Now &now) {
    {
        std::lock_guard lock(mutex_);
        pending_ = now;
        tickPending_ = true;
    }
    curl_multi_wakeup(multi_);
}

void Notifier::Worker::run() {
    for (;;) {
        bool tick = false;
        {
            std::lock_guard lock(mutex_);
            if (stop_)
                break;
            if (tickPending_) {
                now_ = pending_;
                tickPending_ = false;
                ticking_ = tick = true;
            }
        }
        if (tick) {
            std::lock_guard database(database_);
            handleTick();
            std::lock_guard lock(mutex_);
            ticking_ = false;
        }
        int running = 0;
        curl_multi_perform(multi_, &running);
        int left = 0;
        while (CURLMsg *m = curl_multi_info_read(multi_, &left)) {
            if (m->msg == CURLMSG_DONE)
                finish(m->easy_handle, m->data.result);
        }
        if (!outcomes_.empty()) {
            std::lock_guard database(database_);
            storeOutcomes();
        }
        curl_multi_poll(multi_, nullptr, 0, kTickMs, nullptr);
    }
    // What is under way is abandoned: its rows still wait in the database.
    for (Flight &f : flights_)
        curl_multi_remove_handle(multi_, static_cast<CURL *>(f.transfer->handle()));
    flights_.clear();
    std::lock_guard database(database_);
    storeOutcomes();
}

void Notifier::Worker::setBusy(ChannelState &state, bool busy) {
    if (state.busy == busy)
        return;
    state.busy = busy;
    std::lock_guard lock(mutex_);
    busyChannels_ += busy ? 1 : -1;
}

void Notifier::Worker::handleTick() {
    if (!storeOutcomes())
        return;
    const auto exists = schema::hasTable(db_, QStringLiteral("notifylog"));
    QList<NotifyChannel> list;
    if (!exists || !*exists || !notifychannel::loadAll(db_, &list))
        return;
    std::map<qint64, NotifyChannel> channels;
    for (const NotifyChannel &c : list) channels.emplace(c.id, c);
    // Rows of a channel that is gone (removed by another program) go nowhere.
    // Looked for first: an UPDATE would take the write lock every second.
    const QString orphan = QStringLiteral("channel not in (select id from notifychannel)");
    LiteStatement st = db_.prepare(QStringLiteral("select count(*) from notifylog where state = ") +
                                   waiting() + QStringLiteral(" and ") + orphan);
    const bool anyOrphan = st.isValid() && st.Step() && !st.done() && st.integer(0) > 0;
    st.Close();
    if (anyOrphan)
        db_.Execute(notify::giveUpWaiting(orphan, sql::quoted(recordTimeText(now_.wall)),
                                          QStringLiteral("渠道已删除")));
    if (!lastReminderCheck_ || now_.steady - *lastReminderCheck_ >= kReminderCheckMs) {
        lastReminderCheck_ = now_.steady;
        queueReminders(channels);
    }
    giveUpOld(channels);
    for (const auto &[id, channel] : channels) {
        const ChannelState &state = states_[id];
        if (channel.enabled && !state.busy && now_.steady >= state.nextAt)
            sendWaiting(channel);
    }
}

void Notifier::Worker::giveUpOld(const std::map<qint64, NotifyChannel> &channels) {
    const QString old =
        QStringLiteral("mydate < ") + sql::quoted(recordTimeText(now_.wall.addMSecs(-kGiveUpMs)));
    LiteStatement st = db_.prepare(
        QStringLiteral("select channel, count(*), max(error) from notifylog where state = ") +
        waiting() + QStringLiteral(" and ") + old + QStringLiteral(" group by channel"));
    struct Late {
        qint64 channel;
        qint64 rows;
        QString error;
    };
    QList<Late> late;
    if (st.isValid())
        st.Step();
    while (st.isValid() && !st.done()) {
        late.append({st.integer(0), st.integer(1), st.text(2)});
        st.Step();
    }
    st.Close();
    for (const Late &l : late) {
        const auto it = channels.find(l.channel);
        if (it == channels.end() || states_[l.channel].busy)
            continue;
        const QString reason =
            it->second.enabled ? QStringLiteral("24小时内未能发出") : QStringLiteral("渠道已停用");
        if (!db_.Execute(notify::giveUpWaiting(
                old + QStringLiteral(" and channel = ") + QString::number(l.channel),
                sql::quoted(recordTimeText(now_.wall)), reason, true)))
            continue;
        Q_EMIT owner_->gaveUp(l.channel,
                              QStringLiteral("通知已放弃：") + notifychannel::label(it->second) +
                                  QString::number(l.rows) + QStringLiteral("条，") + reason +
                                  (l.error.isEmpty() ? QString() : QStringLiteral("：") + l.error));
    }
}

void Notifier::Worker::queueReminders(const std::map<qint64, NotifyChannel> &channels) {
    for (const auto &[id, channel] : channels) {
        const auto options = notifychannel::parseOptions(channel.options);
        if (!channel.enabled || !options || options->repeatMinutes <= 0)
            continue;
        const QString c = QString::number(id);
        const QString since =
            sql::quoted(recordTimeText(now_.wall.addSecs(-60LL * options->repeatMinutes)));
        // An alarm whose start is the latest row of its module and kind (one
        // pass over alarmlog), that went to this channel, with nothing
        // waiting for it there and nothing sent for N minutes.
        const QString ofChannel = QStringLiteral(
                                      "from notifylog n where n.alarm = a.id and "
                                      "n.channel = ") +
                                  c;
        const QString select =
            QStringLiteral("select a.id, ") + c + QStringLiteral(", ") +
            sql::quoted(recordTimeText(now_.wall)) + QStringLiteral(", ") + waiting() +
            QStringLiteral(
                ", 0, '' from alarmlog a where a.id in (select max(id) from alarmlog "
                "group by adr, kind) and a.state = '开始' and exists (select 1 ") +
            ofChannel + QStringLiteral(") and not exists (select 1 ") + ofChannel +
            QStringLiteral(" and (n.state = ") + waiting() + QStringLiteral(" or n.mydate > ") +
            since + QStringLiteral("))");
        // Looked for first, so that the write lock is taken only for a reminder.
        LiteStatement st =
            db_.prepare(QStringLiteral("select count(*) from (") + select + QStringLiteral(")"));
        const bool due = st.isValid() && st.Step() && !st.done() && st.integer(0) > 0;
        st.Close();
        if (due)
            db_.Execute(QStringLiteral("insert into notifylog (alarm, channel, mydate, state, "
                                       "tries, error) ") +
                        select);
    }
}

void Notifier::Worker::sendWaiting(const NotifyChannel &channel) {
    const QString c = QString::number(channel.id);
    LiteStatement st = db_.prepare(
        QStringLiteral(
            "select n.id, n.alarm, a.adr, (select name from dbQx7 d where d.adr = a.adr limit 1), "
            "a.kind, a.state, a.value, a.mydate, exists (select 1 from notifylog p where "
            "p.alarm = n.alarm and p.channel = n.channel and p.id < n.id) "
            "from notifylog n join alarmlog a on a.id = n.alarm where n.state = ") +
        waiting() + QStringLiteral(" and n.channel = ") + c +
        QStringLiteral(" order by n.id limit ") + QString::number(notifymsg::kMaxEvents));
    QList<NotifyEvent> events;
    if (st.isValid())
        st.Step();
    while (st.isValid() && !st.done()) {
        NotifyEvent e;
        e.logId = st.integer(0);
        e.alarmId = st.integer(1);
        e.address = int(st.integer(2));
        e.moduleName = st.text(3);
        e.kind = st.text(4);
        e.state = st.text(5);
        if (st.columnType(6) != LiteStatement::Type::Null)
            e.value = st.real(6);
        e.time = st.text(7);
        e.reminder = st.integer(8) != 0;
        events.append(e);
        st.Step();
    }
    st.Close();
    if (events.isEmpty())
        return;
    int used = 0;
    const OutMessage message = notifymsg::compose(events, &used);
    Flight flight{
        channel, {}, std::make_unique<NotifyTransfer>(channel, message, now_.wall, timeoutMs_)};
    for (int i = 0; i < used; ++i) flight.rows << events.at(i).logId;
    ChannelState &state = states_[channel.id];
    state.nextAt = now_.steady + kSpacingMs;
    setBusy(state, true);
    auto *easy = static_cast<CURL *>(flight.transfer->handle());
    if (!easy || curl_multi_add_handle(multi_, easy) != CURLM_OK) {
        flights_.push_back(std::move(flight));
        finish(easy, CURLE_FAILED_INIT);
        return;
    }
    flights_.push_back(std::move(flight));
}

void Notifier::Worker::finish(CURL *easy, CURLcode code) {
    const auto it = std::find_if(flights_.begin(), flights_.end(),
                                 [easy](const Flight &f) { return f.transfer->handle() == easy; });
    if (it == flights_.end())
        return;
    Outcome outcome{it->channel, it->rows, it->transfer->result(code), 0};
    if (easy)
        curl_multi_remove_handle(multi_, easy);
    flights_.erase(it);
    ChannelState &state = states_[outcome.channel.id];
    if (outcome.answer.delivered) {
        state.pause = 0;
    } else {
        state.pause = state.pause ? qMin(state.pause * 2, kMaxRetryMs) : kFirstRetryMs;
        state.nextAt = qMax(state.nextAt, now_.steady + state.pause);
        outcome.pause = state.pause;
    }
    outcomes_.push_back(std::move(outcome));
}

bool Notifier::Worker::storeOutcomes() {
    while (!outcomes_.empty()) {
        const Outcome &o = outcomes_.front();
        const QString rows = QStringLiteral(" where id in (") + idList(o.rows) +
                             QStringLiteral(") and state = ") + waiting();
        const QString statement =
            o.answer.delivered
                ? QStringLiteral("update notifylog set state = ") +
                      sql::quoted(QString::fromUtf8(notify::kSent)) +
                      QStringLiteral(", mydate = ") + sql::quoted(recordTimeText(now_.wall)) +
                      QStringLiteral(", tries = tries + 1, error = ''") + rows
                : QStringLiteral("update notifylog set tries = tries + 1, error = ") +
                      sql::quoted(o.answer.text) + rows;
        if (!db_.Execute(statement))
            return false;
        const QString label = notifychannel::label(o.channel);
        if (o.answer.delivered)
            Q_EMIT owner_->sent(o.channel.id, QStringLiteral("通知已发出：") + label +
                                                  QString::number(o.rows.size()) +
                                                  QStringLiteral("条，") + o.answer.text);
        else
            Q_EMIT owner_->failed(o.channel.id, QStringLiteral("通知未能发出：") + label +
                                                    QStringLiteral("：") + o.answer.text +
                                                    QStringLiteral("，") + pauseText(o.pause) +
                                                    QStringLiteral("后再试"));
        setBusy(states_[o.channel.id], false);
        outcomes_.erase(outcomes_.begin());
    }
    return true;
}

// ---- the notifier ----

Notifier::Notifier(const QString &databasePath, const Clock &clock, QObject *parent)
    : QObject(parent), path_(databasePath), clock_(clock), timer_(new QTimer(this)) {
    timer_->setInterval(kTickMs);
    connect(timer_, &QTimer::timeout, this, &Notifier::tick);
}

Notifier::~Notifier() {
    stop();
}

bool Notifier::start(QString *error) {
    stop();
    auto worker = std::make_unique<Worker>(this, timeoutMs_);
    if (!worker->start(path_, error))
        return false;
    worker_ = std::move(worker);
    timer_->start();
    tick();
    return true;
}

void Notifier::stop() {
    resume();
    timer_->stop();
    worker_.reset();
}

void Notifier::suspend() {
    if (worker_ && !suspended_) {
        worker_->database().lock();
        suspended_ = true;
    }
}

void Notifier::resume() {
    if (suspended_) {
        worker_->database().unlock();
        suspended_ = false;
    }
}

void Notifier::tick() {
    if (worker_)
        worker_->post({clock_.now(), clock_.steadyMs()});
}

bool Notifier::isIdle() const {
    return !worker_ || worker_->idle();
}

void Notifier::testSend(const NotifyChannel &channel, QObject *context,
                        std::function<void(bool, const QString &)> done, int timeoutMs) {
    auto answer = std::make_shared<notifymsg::Answer>();
    auto cancel = std::make_shared<std::atomic_bool>(false);
    // A window that closes ends its test at once.
    connect(context, &QObject::destroyed, [cancel] { *cancel = true; });
    QThread *thread = QThread::create([channel, timeoutMs, answer, cancel] {
        const QDateTime now = QDateTime::currentDateTime();
        NotifyTransfer transfer(
            channel, notifymsg::composeTest(notifychannel::label(channel), recordTimeText(now)),
            now, timeoutMs);
        *answer = transfer.perform(cancel.get());
    });
    thread->setObjectName(QStringLiteral("notify-test"));
    connect(thread, &QThread::finished, context,
            [answer, done = std::move(done)] { done(answer->delivered, answer->text); });
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start();
}
