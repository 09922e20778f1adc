#include "bus/HexText.h"

namespace {
int hexDigit(QChar c) {
    const ushort u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    return -1;
}
}  // namespace

qint64 tokenValue(QStringView token) {
    qint64 value = 0;
    for (QChar c : token) {
        const int d = hexDigit(c);
        if (d < 0)
            break;
        value = value * 16 + d;
        if (value > 0x7FFFFFFF)
            value = 0x7FFFFFFF;
    }
    return value;
}

CommandBytes commandTextToBytes(QString &text) {
    text = text.trimmed();
    CommandBytes out;
    if (text.isEmpty())
        return out;
    const QStringList tokens = text.split(QLatin1Char(' '));
    out.bytes.reserve(tokens.size());
    for (int i = 0; i < tokens.size(); ++i) {
        const qint64 v = tokenValue(tokens[i]);
        if (v > 0xFF) {
            out.bytes.clear();
            out.badToken = i;
            out.badText = tokens[i];
            return out;
        }
        out.bytes.append(char(v));
    }
    return out;
}

QString hexByte(quint8 value) {
    static const char digits[] = "0123456789ABCDEF";
    const QChar pair[2] = {QLatin1Char(digits[value >> 4]), QLatin1Char(digits[value & 0xF])};
    return QString(pair, 2);
}

QString receiveText(QByteArrayView bytes) {
    static const char digits[] = "0123456789ABCDEF";
    QString out;
    out.resize(bytes.size() * 3);
    QChar *p = out.data();
    for (char c : bytes) {
        const quint8 b = quint8(c);
        *p++ = QLatin1Char(' ');
        *p++ = QLatin1Char(digits[b >> 4]);
        *p++ = QLatin1Char(digits[b & 0xF]);
    }
    return out;
}

QStringList receiveFields(const QString &text) {
    return text.trimmed().split(QLatin1Char(' '));
}

QByteArray receiveTextBytes(const QString &text) {
    QByteArray out;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return out;
    for (const QString &field : trimmed.split(QLatin1Char(' '))) {
        const qint64 v = tokenValue(field);
        if (v > 0xFF)
            return {};
        out.append(char(v));
    }
    return out;
}
