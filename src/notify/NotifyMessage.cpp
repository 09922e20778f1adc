#include "notify/NotifyMessage.h"

#include "store/ValueText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QUrl>

namespace notifymsg {

namespace {
QString title() {
    return QString::fromUtf8(kTitle);
}

QJsonObject eventObject(const NotifyEvent &e) {
    return {{QLatin1String("adr"), e.address},
            {QLatin1String("name"), e.moduleName},
            {QLatin1String("kind"), e.kind},
            {QLatin1String("state"), e.state},
            {QLatin1String("value"), e.value ? QJsonValue(*e.value) : QJsonValue()},
            {QLatin1String("unit"), unitOf(e.kind)},
            {QLatin1String("time"), e.time},
            {QLatin1String("reminder"), e.reminder}};
}

QString moduleText(const NotifyEvent &e) {
    QString out = QStringLiteral("模块") + QString::number(e.address);
    if (!e.moduleName.trimmed().isEmpty())
        out += QStringLiteral("（") + e.moduleName.trimmed() + QStringLiteral("）");
    return out;
}

// RFC 2047 encoded words of at most 45 bytes of UTF-8 each, on folded lines.
QByteArray encodedHeader(const QString &text) {
    QByteArrayList words;
    QByteArray chunk;
    for (const QChar c : text) {
        const QByteArray bytes = QString(c).toUtf8();
        if (chunk.size() + bytes.size() > 45) {
            words << chunk;
            chunk.clear();
        }
        chunk += bytes;
    }
    if (!chunk.isEmpty())
        words << chunk;
    for (QByteArray &w : words) w = "=?UTF-8?B?" + w.toBase64() + "?=";
    return words.join("\r\n ");
}

// A header address: as typed when plain ASCII, otherwise the bare address.
QByteArray headerAddress(const QString &text) {
    for (const QChar c : text) {
        if (c.unicode() > 126)
            return notifychannel::bareAddress(text).toUtf8();
    }
    return text.trimmed().toUtf8();
}
}  // namespace

QString unitOf(const QString &kind) {
    if (kind.startsWith(QStringLiteral("温度")))
        return QStringLiteral("℃");
    if (kind.startsWith(QStringLiteral("湿度")))
        return QStringLiteral("%RH");
    return {};
}

QString eventLine(const NotifyEvent &e) {
    QString out = moduleText(e) +
                  (e.moduleName.trimmed().isEmpty() ? QStringLiteral(" ") : QString()) + e.kind;
    if (e.reminder)
        return out + QStringLiteral(" 仍在报警（始于 ") + e.time + QStringLiteral("）");
    if (e.value)
        out += QLatin1Char(' ') + numberText(*e.value) + unitOf(e.kind);
    return out + QLatin1Char(' ') + e.state + QLatin1Char(' ') + e.time;
}

OutMessage compose(const QList<NotifyEvent> &events, int *used) {
    QStringList lines;
    qsizetype bytes = 0;
    for (const NotifyEvent &e : events) {
        const QString line = eventLine(e);
        bytes += line.toUtf8().size() + 1;
        if (!lines.isEmpty() && (lines.size() >= kMaxEvents || bytes > kMaxTextBytes))
            break;
        lines << line;
    }
    *used = int(lines.size());
    OutMessage out;
    if (lines.isEmpty())
        return out;
    const NotifyEvent &newest = events.at(lines.size() - 1);
    if (lines.size() == 1) {
        out.text = title() + lines.first();
        out.subject = QStringLiteral("温湿度报警：") + moduleText(newest) + QLatin1Char(' ') +
                      newest.kind + QLatin1Char(' ') +
                      (newest.reminder ? QStringLiteral("仍在报警") : newest.state);
    } else {
        out.text = title() + QString::number(lines.size()) + QStringLiteral("条：\n") +
                   lines.join(QLatin1Char('\n'));
        out.subject =
            QStringLiteral("温湿度报警：") + QString::number(lines.size()) + QStringLiteral("条");
    }
    QJsonObject hook = eventObject(newest);
    hook.remove(QLatin1String("reminder"));
    hook.insert(QLatin1String("text"), out.text);
    QJsonArray all;
    for (qsizetype i = 0; i < lines.size(); ++i) all.append(eventObject(events.at(i)));
    hook.insert(QLatin1String("events"), all);
    out.webhook = QJsonDocument(hook).toJson(QJsonDocument::Compact);
    return out;
}

OutMessage composeTest(const QString &channelLabel, const QString &time) {
    OutMessage out;
    out.text = title() + QStringLiteral("测试消息：通知渠道") + channelLabel +
               QStringLiteral("可以收到报警。") + time;
    out.subject = QStringLiteral("温湿度报警：测试消息");
    const QJsonObject hook{{QLatin1String("adr"), 0},
                           {QLatin1String("name"), QString()},
                           {QLatin1String("kind"), QStringLiteral("测试")},
                           {QLatin1String("state"), QString()},
                           {QLatin1String("value"), QJsonValue()},
                           {QLatin1String("unit"), QString()},
                           {QLatin1String("time"), time},
                           {QLatin1String("text"), out.text},
                           {QLatin1String("events"), QJsonArray()}};
    out.webhook = QJsonDocument(hook).toJson(QJsonDocument::Compact);
    return out;
}

QByteArray dingtalkSign(const QByteArray &secret, qint64 epochMs) {
    return QMessageAuthenticationCode::hash(QByteArray::number(epochMs) + '\n' + secret, secret,
                                            QCryptographicHash::Sha256)
        .toBase64();
}

QByteArray feishuSign(const QByteArray &secret, qint64 epochSeconds) {
    return QMessageAuthenticationCode::hash(QByteArray(),
                                            QByteArray::number(epochSeconds) + '\n' + secret,
                                            QCryptographicHash::Sha256)
        .toBase64();
}

WebRequest webRequest(const NotifyChannel &channel, const OutMessage &message, qint64 epochMs) {
    WebRequest out;
    out.url = channel.target.trimmed().toUtf8();
    const QByteArray secret = channel.secret.trimmed().toUtf8();
    const QJsonObject text{{QLatin1String("content"), message.text}};
    if (channel.kind == QLatin1String("wecom")) {
        out.body = QJsonDocument(QJsonObject{{QLatin1String("msgtype"), QStringLiteral("text")},
                                             {QLatin1String("text"), text}})
                       .toJson(QJsonDocument::Compact);
    } else if (channel.kind == QLatin1String("dingtalk")) {
        out.body = QJsonDocument(QJsonObject{{QLatin1String("msgtype"), QStringLiteral("text")},
                                             {QLatin1String("text"), text}})
                       .toJson(QJsonDocument::Compact);
        if (!secret.isEmpty())
            out.url += (out.url.contains('?') ? "&timestamp=" : "?timestamp=") +
                       QByteArray::number(epochMs) + "&sign=" +
                       QUrl::toPercentEncoding(QString::fromLatin1(dingtalkSign(secret, epochMs)));
    } else if (channel.kind == QLatin1String("feishu")) {
        QJsonObject o{
            {QLatin1String("msg_type"), QStringLiteral("text")},
            {QLatin1String("content"), QJsonObject{{QLatin1String("text"), message.text}}}};
        if (!secret.isEmpty()) {
            const qint64 seconds = epochMs / 1000;
            o.insert(QLatin1String("timestamp"), QString::number(seconds));
            o.insert(QLatin1String("sign"), QString::fromLatin1(feishuSign(secret, seconds)));
        }
        out.body = QJsonDocument(o).toJson(QJsonDocument::Compact);
    } else {
        out.body = message.webhook;
    }
    return out;
}

QByteArray mail(const ChannelOptions &options, const OutMessage &message, const QDateTime &date) {
    QByteArrayList to;
    for (const QString &t : options.to) to << headerAddress(t);
    QByteArray out = "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\r\n";
    out += "From: " + headerAddress(options.from) + "\r\n";
    out += "To: " + to.join(", ") + "\r\n";
    out += "Subject: " + encodedHeader(message.subject) + "\r\n";
    out += "Message-ID: <" + QByteArray::number(date.toMSecsSinceEpoch()) + '.' +
           QByteArray::number(QRandomGenerator::global()->generate()) + "@qx7daq>\r\n";
    out +=
        "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=UTF-8\r\n"
        "Content-Transfer-Encoding: base64\r\n\r\n";
    const QByteArray body = message.text.toUtf8().toBase64();
    for (qsizetype i = 0; i < body.size(); i += 76) out += body.mid(i, 76) + "\r\n";
    return out;
}

Answer judge(const QString &kind, long httpStatus, const QByteArray &body) {
    const QString status = QStringLiteral("HTTP ") + QString::number(httpStatus);
    if (kind == QLatin1String("webhook"))
        return {httpStatus >= 200 && httpStatus < 300, status};
    if (httpStatus != 200)
        return {false, status};
    // The robots answer HTTP 200 whether or not they took the message; their
    // JSON says which.
    const bool feishu = kind == QLatin1String("feishu");
    const QLatin1String codeKey(feishu ? "code" : "errcode");
    const QLatin1String messageKey(feishu ? "msg" : "errmsg");
    const QJsonObject o = QJsonDocument::fromJson(body).object();
    const QJsonValue code = o.value(codeKey);
    if (!code.isDouble())
        return {false,
                QStringLiteral("答复无法识别：") + QString::fromUtf8(body.left(200)).simplified()};
    const QString text = codeKey + QLatin1Char(' ') + QString::number(code.toInteger()) +
                         QStringLiteral("（") + o.value(messageKey).toString() +
                         QStringLiteral("）");
    return {code.toInteger() == 0 && code.toDouble() == 0, text};
}

}  // namespace notifymsg
