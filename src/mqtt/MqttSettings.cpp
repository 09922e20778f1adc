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

namespace {
// What MQTT does not allow in a topic (and mosquitto refuses): wildcards,
// empty levels, a leading '$' (the broker's own topics), control characters
// (U+0000 among them) and what is not a character at all (U+FFFE, U+FDD0,
// unpaired surrogates).
QString checkTopicPart(const QString &text, const QString &name) {
    if (text.size() > kMaxPrefixLength)
        return name + QStringLiteral("太长（最多%1个字符）。").arg(kMaxPrefixLength);
    if (text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('#')))
        return name + QStringLiteral("不能含有“+”或“#”。");
    if (text.startsWith(QLatin1Char('$')))
        return name + QStringLiteral("不能以“$”开头。");
    if (text.startsWith(QLatin1Char('/')) || text.endsWith(QLatin1Char('/')) ||
        text.contains(QLatin1String("//")))
        return name + QStringLiteral("不能以“/”开头或结尾，也不能含有空的层级（“//”）。");
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text.at(i).unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text.at(i), text.at(i + 1));
            ++i;
        }
        if (c < 0x20 || (c >= 0x7F && c <= 0x9F))
            return name + QStringLiteral("不能含有控制字符。");
        if (QChar::isSurrogate(c) || QChar::isNonCharacter(c))
            return name + QStringLiteral("不能含有MQTT主题不允许的字符（U+%1）。")
                              .arg(QString::number(uint(c), 16).toUpper().rightJustified(4, '0'));
    }
    return {};
}
}  // namespace

QString checkPrefix(const QString &prefix) {
    if (prefix.isEmpty())
        return QStringLiteral("请填写主题前缀。");
    return checkTopicPart(prefix, QStringLiteral("主题前缀"));
}

QString checkDiscoveryPrefix(const QString &discoveryPrefix) {
    return checkTopicPart(discoveryPrefix, QStringLiteral("自动发现前缀"));
}

QString check(const MqttSettings &s) {
    QString error = checkHost(s.host);
    if (error.isEmpty() && (s.port < 1 || s.port > 65535))
        error = checkPort(QString::number(s.port));
    if (error.isEmpty())
        error = checkPrefix(s.prefix);
    if (error.isEmpty())
        error = checkDiscoveryPrefix(s.discoveryPrefix);
    if (error.isEmpty() && s.username.isEmpty() && !s.password.isEmpty())
        error = QStringLiteral("填写密码时必须同时填写用户名。");
    return error;
}

QString createTableStatement() {
    return QStringLiteral(
        "CREATE TABLE IF NOT EXISTS mqttsetting (host TEXT, port INTEGER, prefix TEXT, "
        "username TEXT, password TEXT, tls INTEGER, discovery TEXT)");
}

namespace {
// Whether the table has the discovery column (tables saved before it came have not).
bool hasDiscoveryColumn(LiteConnection &db, bool *has, QString *error) {
    LiteStatement st = db.prepare(QStringLiteral(
        "select count(*) from pragma_table_info('mqttsetting') where name='discovery'"));
    if (!st.isValid() || !st.Step()) {
        *error = st.error();
        return false;
    }
    *has = !st.done() && st.integer(0) > 0;
    return true;
}

QString storedAs(const LiteStatement &st, int column) {
    return QStringLiteral("，保存的是“") + st.text(column) + QStringLiteral("”。");
}

// The port and tls columns as they were stored: whole numbers in their range
// (blank: the default), nothing that would have to be cut or guessed.
QString readNumbers(const LiteStatement &st, MqttSettings *s) {
    using Type = LiteStatement::Type;
    if (st.columnType(1) != Type::Null) {
        const qint64 port = st.integer(1);
        if (st.columnType(1) != Type::Integer || port < 1 || port > 65535)
            return QStringLiteral("端口必须是1到65535之间的整数") + storedAs(st, 1);
        s->port = int(port);
    }
    if (st.columnType(5) != Type::Null) {
        const qint64 tls = st.integer(5);
        if (st.columnType(5) != Type::Integer || (tls != 0 && tls != 1))
            return QStringLiteral("tls只能是0（不用TLS）或1（使用TLS）") + storedAs(st, 5);
        s->tls = tls == 1;
    }
    return {};
}
}  // namespace

Loaded load(LiteConnection &db) {
    Loaded out;
    bool exists = false, discovery = false;
    if (!tableExists(db, &exists, &out.error))
        return out;
    if (!exists)
        return out;
    if (!hasDiscoveryColumn(db, &discovery, &out.error)) {
        out.error = QStringLiteral("无法读取MQTT设置：") + out.error;
        return out;
    }
    LiteStatement st =
        db.prepare(QStringLiteral("select host, port, prefix, username, password, tls") +
                   (discovery ? QStringLiteral(", discovery") : QString()) +
                   QStringLiteral(" from mqttsetting limit 1"));
    if (!st.isValid() || !st.Step()) {
        out.error = QStringLiteral("无法读取MQTT设置：") + st.error();
        return out;
    }
    if (st.done())
        return out;
    MqttSettings s;
    s.host = st.text(0).trimmed();
    s.prefix = st.text(2);
    if (s.prefix.isEmpty())
        s.prefix = QString::fromLatin1(MqttSettings::kDefaultPrefix);
    s.username = st.text(3);
    s.password = st.text(4);
    // Blank (a row from before the column): the default; empty: off.
    if (discovery && st.columnType(6) != LiteStatement::Type::Null)
        s.discoveryPrefix = st.text(6);
    QString problem = readNumbers(st, &s);
    st.Close();
    if (problem.isEmpty())
        problem = check(s);
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
            "insert into mqttsetting (host, port, prefix, username, password, tls, "
            "discovery) values ('") +
        sql::escape(s.host.trimmed()) + QStringLiteral("', ") + QString::number(s.port) +
        QStringLiteral(", '") + sql::escape(s.prefix) + QStringLiteral("', '") +
        sql::escape(s.username) + QStringLiteral("', '") + sql::escape(s.password) +
        QStringLiteral("', ") + QString::number(s.tls ? 1 : 0) + QStringLiteral(", '") +
        sql::escape(s.discoveryPrefix) + QStringLiteral("')");
    if (!db.Execute(createTableStatement()))
        return fail();
    // A table saved before discovery came gets the column; the others stay as they are.
    bool hasDiscovery = false;
    QString why;
    if (!hasDiscoveryColumn(db, &hasDiscovery, &why)) {
        if (error)
            *error = why;
        return false;
    }
    if (!hasDiscovery &&
        !db.Execute(QStringLiteral("ALTER TABLE mqttsetting ADD COLUMN discovery TEXT")))
        return fail();
    if (!db.Execute(QStringLiteral("delete from mqttsetting")) || !db.Execute(insert))
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
