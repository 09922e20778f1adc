#pragma once

#include "notify/NotifyChannel.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// What the notifications say, and how each kind of channel carries it: the
// texts, the robots' JSON and signatures, the webhook's JSON object, the
// e-mail, and what counts as delivered in each service's answer.

// One start or end of an alarm (a row of alarmlog) waiting to go through a
// channel (a row of notifylog).
struct NotifyEvent {
    qint64 logId = 0;    // notifylog id
    qint64 alarmId = 0;  // alarmlog id
    int address = 0;
    QString moduleName;  // dbQx7.name of the address; may be empty
    QString kind;        // 温度过低, 温度过高, 湿度过低, 湿度过高, 无应答
    QString state;       // 开始 or 结束
    std::optional<double> value;
    QString time;           // alarmlog's own time, the records' form
    bool reminder = false;  // a reminder that the alarm is still on
};

// One message, in the forms the kinds need.
struct OutMessage {
    QString subject;     // e-mail
    QString text;        // robots and e-mail
    QByteArray webhook;  // the webhook's JSON object
};

namespace notifymsg {

// Every message starts so (a keyword that a robot's security setting can ask for).
inline constexpr auto kTitle = "【温湿度报警】";
// A message lists at most this many events and stays under this many bytes
// of text (WeCom takes 2048); what does not fit goes in the next one.
inline constexpr int kMaxEvents = 20;
inline constexpr int kMaxTextBytes = 1800;

// ℃ for a temperature kind, %RH for a humidity kind, otherwise empty.
QString unitOf(const QString &kind);
// "模块3（冷库）温度过低 -4.1℃ 开始 2026-12-07 05:10:42" ("模块5 无应答 开始 …"
// for a module without a name), or for a reminder
// "模块3（冷库）温度过低 仍在报警（始于 2026-12-07 05:10:42）".
QString eventLine(const NotifyEvent &event);

// The message for the first events, as many as fit (at least one);
// *used says how many. The webhook's object carries the newest of them in
// its top-level fields and every one in "events".
OutMessage compose(const QList<NotifyEvent> &events, int *used);
// The message of 测试发送.
OutMessage composeTest(const QString &channelLabel, const QString &time);

// The signatures (加签), Base64 of an HMAC-SHA256 as each service documents:
// DingTalk over "<milliseconds>\n<secret>" keyed with the secret; Feishu
// over nothing, keyed with "<seconds>\n<secret>".
QByteArray dingtalkSign(const QByteArray &secret, qint64 epochMs);
QByteArray feishuSign(const QByteArray &secret, qint64 epochSeconds);

// The URL and JSON body of a message to a web kind at `epochMs`.
struct WebRequest {
    QByteArray url;
    QByteArray body;
};
WebRequest webRequest(const NotifyChannel &channel, const OutMessage &message, qint64 epochMs);

// The whole e-mail, headers and body, with CRLF line ends.
QByteArray mail(const ChannelOptions &options, const OutMessage &message, const QDateTime &date);

// Whether a web kind's answer says the message was delivered (a robot:
// HTTP 200 and errcode 0, for Feishu code 0; a webhook: HTTP 2xx), and
// the answer in a few words.
struct Answer {
    bool delivered = false;
    QString text;
};
Answer judge(const QString &kind, long httpStatus, const QByteArray &body);

}  // namespace notifymsg
