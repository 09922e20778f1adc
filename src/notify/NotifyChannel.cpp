#include "notify/NotifyChannel.h"

#include "notify/NotifyStatements.h"
#include "store/LiteConnection.h"
#include "store/Schema.h"
#include "store/Statements.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace notifychannel {

namespace {
bool looksLikeAddress(const QString &text) {
    const QString a = bareAddress(text);
    const qsizetype at = a.indexOf(QLatin1Char('@'));
    return at > 0 && at == a.lastIndexOf(QLatin1Char('@')) && at < a.size() - 1 &&
           !a.contains(QLatin1Char(' ')) && !a.contains(QLatin1Char('<')) &&
           !a.contains(QLatin1Char('>'));
}

// All or nothing, with the write lock taken at the start: a database that
// another connection holds is waited for (the busy timeout) rather than
// refused half-way.
bool writeTogether(LiteConnection &db, const QStringList &statements, QString *error) {
    LiteTransaction tx(db, LiteTransaction::Mode::Immediate);
    bool ok = tx.isActive();
    for (const QString &sql : statements) ok = ok && db.Execute(sql);
    ok = ok && tx.commit();
    if (!ok && error)
        *error = db.lastError();
    return ok;
}
}  // namespace

QString bareAddress(const QString &text) {
    const QString t = text.trimmed();
    const qsizetype open = t.lastIndexOf(QLatin1Char('<'));
    if (open >= 0 && t.endsWith(QLatin1Char('>')))
        return t.mid(open + 1, t.size() - open - 2).trimmed();
    return t;
}

QStringList kinds() {
    return {QStringLiteral("wecom"), QStringLiteral("dingtalk"), QStringLiteral("feishu"),
            QStringLiteral("webhook"), QStringLiteral("email")};
}

QString kindText(const QString &kind) {
    if (kind == QLatin1String("wecom"))
        return QStringLiteral("企业微信机器人");
    if (kind == QLatin1String("dingtalk"))
        return QStringLiteral("钉钉机器人");
    if (kind == QLatin1String("feishu"))
        return QStringLiteral("飞书机器人");
    if (kind == QLatin1String("webhook"))
        return QStringLiteral("Webhook");
    if (kind == QLatin1String("email"))
        return QStringLiteral("电子邮件");
    return kind;
}

bool isWebKind(const QString &kind) {
    return kind != QLatin1String("email");
}

std::optional<ChannelOptions> parseOptions(const QString &text, QString *error) {
    ChannelOptions out;
    if (text.trimmed().isEmpty())
        return out;
    auto fail = [&](const QString &why) -> std::optional<ChannelOptions> {
        if (error)
            *error = QStringLiteral("选项无效：") + why;
        return std::nullopt;
    };
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &parseError);
    if (!doc.isObject())
        return fail(parseError.error ? parseError.errorString() : QStringLiteral("不是JSON对象"));
    const QJsonObject o = doc.object();
    auto string = [&](const char *key, QString *into) {
        const QJsonValue v = o.value(QLatin1String(key));
        if (v.isString())
            *into = v.toString();
        return v.isUndefined() || v.isNull() || v.isString();
    };
    if (!string("from", &out.from) || !string("username", &out.username) ||
        !string("cafile", &out.cafile))
        return fail(QStringLiteral("from、username、cafile 应为文本"));
    const QJsonValue to = o.value(QLatin1String("to"));
    if (to.isString()) {
        out.to << to.toString();
    } else if (to.isArray()) {
        for (const QJsonValue &v : to.toArray()) {
            if (!v.isString())
                return fail(QStringLiteral("to 应为地址的列表"));
            out.to << v.toString();
        }
    } else if (!to.isUndefined() && !to.isNull()) {
        return fail(QStringLiteral("to 应为地址的列表"));
    }
    const QJsonValue tls = o.value(QLatin1String("starttls"));
    if (!tls.isBool() && !tls.isUndefined() && !tls.isNull())
        return fail(QStringLiteral("starttls 应为 true 或 false"));
    out.starttls = tls.toBool();
    const QJsonValue repeat = o.value(QLatin1String("repeat_minutes"));
    const double minutes = repeat.toDouble(-1);
    if (!repeat.isUndefined() && !repeat.isNull() &&
        (!repeat.isDouble() || minutes < 0 || minutes > 100000 || minutes != int(minutes)))
        return fail(QStringLiteral("repeat_minutes 应为0以上的整数"));
    out.repeatMinutes = repeat.isDouble() ? int(minutes) : 0;
    return out;
}

QString optionsText(const QString &kind, const ChannelOptions &options) {
    QJsonObject o;
    if (kind == QLatin1String("email")) {
        o.insert(QLatin1String("from"), options.from);
        o.insert(QLatin1String("to"), QJsonArray::fromStringList(options.to));
        o.insert(QLatin1String("username"), options.username);
        o.insert(QLatin1String("starttls"), options.starttls);
    }
    if (!options.cafile.isEmpty())
        o.insert(QLatin1String("cafile"), options.cafile);
    if (options.repeatMinutes > 0)
        o.insert(QLatin1String("repeat_minutes"), options.repeatMinutes);
    return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

QString check(const NotifyChannel &channel) {
    if (!kinds().contains(channel.kind))
        return QStringLiteral("类型无效：") + channel.kind;
    if (channel.name.trimmed().isEmpty())
        return QStringLiteral("请输入名称");
    QString error;
    const auto options = parseOptions(channel.options, &error);
    if (!options)
        return error;
    const QUrl url(channel.target.trimmed(), QUrl::StrictMode);
    const QStringList schemes = isWebKind(channel.kind)
                                    ? QStringList{QStringLiteral("http"), QStringLiteral("https")}
                                    : QStringList{QStringLiteral("smtp"), QStringLiteral("smtps")};
    if (!url.isValid() || url.host().isEmpty() || !schemes.contains(url.scheme()))
        return isWebKind(channel.kind)
                   ? QStringLiteral("地址应为 http:// 或 https:// 开头的完整网址")
                   : QStringLiteral("地址应为 smtp://主机:端口 或 smtps://主机:端口");
    if (!options->cafile.isEmpty() && !QFileInfo(options->cafile).isReadable())
        return QStringLiteral("CA文件不存在或无法读取：") + options->cafile;
    if (channel.kind == QLatin1String("email")) {
        if (!looksLikeAddress(options->from))
            return QStringLiteral("发件人地址无效：") + options->from;
        if (options->to.isEmpty())
            return QStringLiteral("请输入收件人");
        for (const QString &to : options->to) {
            if (!looksLikeAddress(to))
                return QStringLiteral("收件人地址无效：") + to;
        }
    }
    return {};
}

QString label(const NotifyChannel &channel) {
    return QStringLiteral("「") + channel.name + QStringLiteral("」（") + kindText(channel.kind) +
           QStringLiteral("）");
}

bool loadAll(LiteConnection &db, QList<NotifyChannel> *channels, QString *error) {
    channels->clear();
    const auto exists = schema::hasTable(db, QStringLiteral("notifychannel"), error);
    if (!exists || !*exists)
        return exists.has_value();
    LiteStatement st = db.prepare(QStringLiteral(
        "select id, kind, name, target, secret, options, enabled from notifychannel order by id"));
    if (st.isValid())
        st.Step();
    while (st.isValid() && !st.done()) {
        channels->append({st.integer(0), st.text(1), st.text(2), st.text(3), st.text(4), st.text(5),
                          st.integer(6) != 0});
        st.Step();
    }
    if (st.failed()) {
        channels->clear();
        if (error)
            *error = st.error();
        return false;
    }
    return true;
}

bool save(LiteConnection &db, NotifyChannel *channel, QString *error) {
    const auto q = sql::quoted;
    const QString values = q(channel->kind) + QStringLiteral(", ") + q(channel->name) +
                           QStringLiteral(", ") + q(channel->target) + QStringLiteral(", ") +
                           q(channel->secret) + QStringLiteral(", ") + q(channel->options) +
                           QStringLiteral(", ") + QString::number(channel->enabled ? 1 : 0);
    QStringList statements = notify::createTables();
    if (channel->id == 0)
        statements << QStringLiteral(
                          "insert into notifychannel "
                          "(kind, name, target, secret, options, enabled) values (") +
                          values + QLatin1Char(')');
    else
        statements << QStringLiteral(
                          "replace into notifychannel "
                          "(id, kind, name, target, secret, options, enabled) values (") +
                          QString::number(channel->id) + QStringLiteral(", ") + values +
                          QLatin1Char(')');
    if (!writeTogether(db, statements, error))
        return false;
    if (channel->id == 0) {
        LiteStatement st = db.prepare(QStringLiteral("select last_insert_rowid()"));
        if (st.isValid() && st.Step() && !st.done())
            channel->id = st.integer(0);
    }
    return true;
}

bool remove(LiteConnection &db, qint64 id, QString *error) {
    const QString channel = QString::number(id);
    QStringList statements = notify::createTables();
    statements << notify::giveUpWaiting(QStringLiteral("channel = ") + channel,
                                        QStringLiteral("datetime('now','+8 hour')"),
                                        QStringLiteral("渠道已删除"))
               << QStringLiteral("delete from notifychannel where id = ") + channel;
    return writeTogether(db, statements, error);
}

}  // namespace notifychannel
