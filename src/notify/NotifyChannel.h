#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class LiteConnection;

// One place that alarm messages go to: a row of table notifychannel.
//
// kind      wecom, dingtalk or feishu (a group robot), webhook (any HTTP
//           endpoint taking a JSON object), or email.
// target    the robot's or webhook's full URL (http or https); for email
//           smtp://HOST:PORT or smtps://HOST:PORT.
// secret    DingTalk's and Feishu's signing secret (加签; empty: none), or the
//           e-mail password.
// options   a JSON object: for email from, to (a list), username, starttls
//           (true or false) and cafile; for every kind cafile (a CA file
//           trusted besides the system's) and repeat_minutes (remind every N
//           minutes while an alarm stays on; 0 or absent: never).
struct NotifyChannel {
    qint64 id = 0;  // 0: not stored yet
    QString kind;
    QString name;
    QString target;
    QString secret;
    QString options;  // as stored
    bool enabled = true;

    bool operator==(const NotifyChannel &) const = default;
};

// The options of a channel, read.
struct ChannelOptions {
    QString from;
    QStringList to;
    QString username;
    bool starttls = false;
    QString cafile;
    int repeatMinutes = 0;

    bool operator==(const ChannelOptions &) const = default;
};

namespace notifychannel {

// The kinds, in the order the window offers them, and their names there.
QStringList kinds();
QString kindText(const QString &kind);  // 企业微信机器人, 钉钉机器人, ...
bool isWebKind(const QString &kind);    // every kind but email

// Reads `text` (empty: all defaults). Nothing, with the reason, when it is
// not a JSON object or a field has the wrong type.
std::optional<ChannelOptions> parseOptions(const QString &text, QString *error = nullptr);
// The JSON object text of `options` (email fields only for email).
QString optionsText(const QString &kind, const ChannelOptions &options);

// What is wrong with the channel, in the window's words, or an empty text
// when messages can be sent through it.
QString check(const NotifyChannel &channel);

// The address of "Name <a@example.com>" (a@example.com), or the text itself.
QString bareAddress(const QString &text);

// "「值班群」（企业微信机器人）": how messages and log lines name a channel.
QString label(const NotifyChannel &channel);

// Every channel, by id. A file without the table has none. False, with the
// reason, when the table cannot be read.
bool loadAll(LiteConnection &db, QList<NotifyChannel> *channels, QString *error = nullptr);
// Stores the channel: a new row for id 0 (and sets the id), otherwise the
// row of that id. Creates the tables when they are missing.
bool save(LiteConnection &db, NotifyChannel *channel, QString *error = nullptr);
// Removes the channel; what still waits to go through it is given up
// (失败, "渠道已删除"). All or nothing.
bool remove(LiteConnection &db, qint64 id, QString *error = nullptr);

}  // namespace notifychannel
