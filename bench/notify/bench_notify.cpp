// Alarm notifications on the loopback, with the program's own pieces: the
// record writer stores each alarm with its queue statement, and a running
// notifier (real clock, one look a second) sends it.
//
// - from the writer's submit to the request at a local webhook (a fresh
//   channel each time, so that the 10 s spacing never holds one back);
// - the same to a local SMTP server (python3-aiosmtpd);
// - one message alone (测试发送: a thread of its own, no wait for the
//   notifier's look), from the call to the request at the webhook.
//
// Prints median, lowest and highest of each.
#include "notify/Notifier.h"
#include "notify/NotifyStatements.h"
#include "store/Clock.h"
#include "store/RecordWriter.h"
#include "store/Schema.h"
#include "store/Statements.h"
#include "store/ValueText.h"
#include "support/NotifyServers.h"
#include "support/TestDatabase.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace {
void print(const char *what, QList<double> ms) {
    std::sort(ms.begin(), ms.end());
    std::printf("%-40s median %7.1f ms, lowest %7.1f ms, highest %7.1f ms (%lld runs)\n", what,
                ms[ms.size() / 2], ms.first(), ms.last(), static_cast<long long>(ms.size()));
}

// Runs the event loop until `arrived` holds, looking at it every
// millisecond; false after 10 s.
bool waitFor(const std::function<bool()> &arrived) {
    QEventLoop loop;
    QTimer look, limit;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (arrived())
            loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    look.start(1);
    limit.start(10000);
    if (!arrived())
        loop.exec();
    return arrived();
}

// Submits one alarm to the writer as the acquisition does, at a different
// moment of the notifier's second each time, and returns the milliseconds
// until `arrived` holds (or -1).
double alarmToArrival(int run, RecordWriter &writer, const std::function<bool()> &arrived) {
    QTest::qWait(run * 379 % 1000);
    const QString s =
        schema::createAlarmLogTable() + QStringLiteral("; ") +
        sql::insertAlarmLog(3, recordTimeText(QDateTime::currentDateTimeUtc()),
                            QStringLiteral("温度过低"), -4.1, QStringLiteral("开始")) +
        QStringLiteral("; ") + notify::queueForLastAlarm();
    QElapsedTimer t;
    t.start();
    writer.submit({{s, s, QString(), Clock::system().steadyMs(), true}});
    return waitFor(arrived) ? t.nsecsElapsed() / 1e6 : -1;
}
}  // namespace

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    NotifyServer hook(NotifyServer::Kind::Http), smtp(NotifyServer::Kind::Smtp);
    if (!hook.start() || !smtp.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(hook.errorString() + smtp.errorString()));
        return 1;
    }
    LiteConnection conn;
    TestDatabase db(conn);
    RecordWriter writer(Clock::system());
    Notifier notifier(db.path(), Clock::system());
    if (!writer.open(db.path()) || !notifier.start())
        return 1;

    NotifyChannel channel{0, QStringLiteral("webhook"), QStringLiteral("hook"), {}, {}, {}, true};
    // The channel of the next alarm, the one before switched off.
    auto only = [&](const QString &kind, const QString &target, const QString &options) {
        QString error;
        channel.enabled = false;
        NotifyChannel next{0, kind, kind, target, {}, options, true};
        if ((channel.id && !notifychannel::save(conn, &channel, &error)) ||
            !notifychannel::save(conn, &next, &error))
            qFatal("cannot store the channel: %s", qPrintable(error));
        channel = next;
    };
    QList<double> web, mail, alone;
    for (int i = 0; i < 20; ++i) {
        only(QStringLiteral("webhook"), hook.url(QStringLiteral("/hook%1").arg(i)), {});
        const qsizetype before = hook.requests().size();
        web << alarmToArrival(i, writer, [&] { return hook.requests().size() > before; });
    }
    for (int i = 0; i < 10; ++i) {
        only(QStringLiteral("email"), smtp.url(),
             QStringLiteral(R"({"from":"daq@site.example","to":["a@site.example"]})"));
        const qsizetype before = smtp.mails().size();
        mail << alarmToArrival(i, writer, [&] { return smtp.mails().size() > before; });
    }
    const NotifyChannel test{0,
                             QStringLiteral("webhook"),
                             QStringLiteral("t"),
                             hook.url(QStringLiteral("/test")),
                             {},
                             {},
                             true};
    for (int i = 0; i < 20; ++i) {
        QElapsedTimer t;
        t.start();
        const qsizetype before = hook.requests().size();
        Notifier::testSend(test, &app, [](bool, const QString &) {});
        alone << (waitFor([&] { return hook.requests().size() > before; }) ? t.nsecsElapsed() / 1e6
                                                                           : -1);
    }
    print("alarm queued -> request at the webhook", web);
    print("alarm queued -> mail at the SMTP server", mail);
    print("one message to the webhook (测试发送)", alone);
    notifier.stop();
    return 0;
}
