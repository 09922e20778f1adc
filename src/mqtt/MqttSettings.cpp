#include "mqtt/MqttSettings.h"

#include "store/LiteConnection.h"
#include "store/Statements.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace {
constexpr int kMaxPrefixLength = 200;

bool tableExists(LiteConnection &db, bool *exists, QString *error) {
    LiteStatement st = db.prepare(QStringLiteral(
        "select count(*) from sqlite_master where type='table' and name='mqttsetting'"));
    if (!st.isValid() || !st.Step()) {
        *error = QStringLiteral("无法读取MQTT设置：") + st.error();
        return false;
    }
    *exists = !st.done() && st.integer(0) > 0;
    return true;
}
}  // namespace

QString MqttSettings::server() const {
    // An IPv6 address gets brackets, so that the port stands apart from it.
    if (host.contains(QLatin1Char(':')))
        return QLatin1Char('[') + host + QStringLiteral("]:") + QString::number(port);
    return host + QLatin1Char(':') + QString::number(port);
}

namespace mqttsettings {

QString checkHost(const QString &host) {
    const QString h = host.trimmed();
    if (h.isEmpty())
        return QStringLiteral("请填写MQTT代理的地址。");
    static const QRegularExpression name(
        QStringLiteral("^(?=.{1,253}$)[A-Za-z0-9_]([A-Za-z0-9_-]{0,62})(\\.[A-Za-z0-9_]([A-Za-z0-9_"
                       "-]{0,62}))*\\.?$"));
    if (QHostAddress(h).isNull() && !name.match(h).hasMatch())
        return QStringLiteral("代理地址“") + h + QStringLiteral("”无效：请填写主机名或IP地址。");
    return {};
}

std::optional<int> parsePort(const QString &text) {
    bool ok = false;
    const int port = text.trimmed().toInt(&ok);
    if (!ok || port < 1 || port > 65535)
        return std::nullopt;
    return port;
}

QString checkPort(const QString &portText) {
    if (!parsePort(portText))
        return QStringLiteral("端口必须是1到65535之间的整数。");
    return {};
}

QString checkPrefix(const QString &prefix) {
    if (prefix.isEmpty())
        return QStringLiteral("请填写主题前缀。");
    if (prefix.size() > kMaxPrefixLength)
        return QStringLiteral("主题前缀太长（最多%1个字符）。").arg(kMaxPrefixLength);
    if (prefix.contains(QLatin1Char('+')) || prefix.contains(QLatin1Char('#')))
        return QStringLiteral("主题前缀不能含有“+”或“#”。");
    if (prefix.startsWith(QLatin1Char('$')))
        return QStringLiteral("主题前缀不能以“$”开头。");
    if (prefix.startsWith(QLatin1Char('/')) || prefix.endsWith(QLatin1Char('/')) ||
        prefix.contains(QLatin1String("//")))
        return QStringLiteral("主题前缀不能以“/”开头或结尾，也不能含有空的层级（“//”）。");
    for (const QChar c : prefix) {
        if (c.category() == QChar::Other_Control || c.isSurrogate())
            return QStringLiteral("主题前缀不能含有控制字符。");
    }
    return {};
}

QString check(const MqttSettings &s) {
    QString error = checkHost(s.host);
    if (error.isEmpty() && (s.port < 1 || s.port > 65535))
        error = checkPort(QString::number(s.port));
    if (error.isEmpty())
        error = checkPrefix(s.prefix);
    if (error.isEmpty() && s.username.isEmpty() && !s.password.isEmpty())
        error = QStringLiteral("填写密码时必须同时填写用户名。");
    return error;
}

QString createTableStatement() {
    return QStringLiteral(
        "CREATE TABLE IF NOT EXISTS mqttsetting "
        "(host TEXT, port INTEGER, prefix TEXT, username TEXT, password TEXT, tls INTEGER)");
}

Loaded load(LiteConnection &db) {
    Loaded out;
    bool exists = false;
    if (!tableExists(db, &exists, &out.error))
        return out;
    if (!exists)
        return out;
    LiteStatement st = db.prepare(QStringLiteral(
        "select host, port, prefix, username, password, tls from mqttsetting limit 1"));
    if (!st.isValid() || !st.Step()) {
        out.error = QStringLiteral("无法读取MQTT设置：") + st.error();
        return out;
    }
    if (st.done())
        return out;
    MqttSettings s;
    s.host = st.text(0).trimmed();
    s.port = st.columnType(1) == LiteStatement::Type::Null ? MqttSettings::kDefaultPort
                                                           : int(st.integer(1));
    s.prefix = st.text(2);
    if (s.prefix.isEmpty())
        s.prefix = QString::fromLatin1(MqttSettings::kDefaultPrefix);
    s.username = st.text(3);
    s.password = st.text(4);
    s.tls = st.integer(5) == 1;
    st.Close();
    const QString problem = check(s);
    if (!problem.isEmpty()) {
        out.error = QStringLiteral("MQTT设置无效：") + problem;
        return out;
    }
    out.settings = s;
    return out;
}

bool save(LiteConnection &db, const MqttSettings &s, QString *error) {
    auto fail = [&] {
        if (error)
            *error = db.lastError();
        return false;
    };
    LiteTransaction tx(db);
    if (!tx.isActive())
        return fail();
    const QString insert =
        QStringLiteral(
            "insert into mqttsetting (host, port, prefix, username, password, tls) values ('") +
        sql::escape(s.host.trimmed()) + QStringLiteral("', ") + QString::number(s.port) +
        QStringLiteral(", '") + sql::escape(s.prefix) + QStringLiteral("', '") +
        sql::escape(s.username) + QStringLiteral("', '") + sql::escape(s.password) +
        QStringLiteral("', ") + QString::number(s.tls ? 1 : 0) + QLatin1Char(')');
    if (!db.Execute(createTableStatement()) ||
        !db.Execute(QStringLiteral("delete from mqttsetting")) || !db.Execute(insert))
        return fail();
    if (!tx.commit())
        return fail();
    return true;
}

bool remove(LiteConnection &db, QString *error) {
    bool exists = false;
    QString why;
    if (!tableExists(db, &exists, &why)) {
        if (error)
            *error = why;
        return false;
    }
    if (exists && !db.Execute(QStringLiteral("delete from mqttsetting"))) {
        if (error)
            *error = db.lastError();
        return false;
    }
    return true;
}

}  // namespace mqttsettings
