#include "acquisition/AcquisitionReply.h"

#include "bus/HexText.h"

AcquisitionReply analyseReply(const QString &receiveText) {
    AcquisitionReply reply;
    const QString text = receiveText.trimmed();
    if (text.isEmpty())
        return reply;
    const QStringList fields = receiveFields(text);
    // Too short to tell what it is: it stays where it arrived.
    reply.kind = fields.size() < 3 ? ReplyKind::Incomplete : ReplyKind::Other;
    if (fields.size() < 3)
        return reply;
    const bool reading = fields[1] == QLatin1String("04") && fields[2] == QLatin1String("04");
    const bool search = fields[1] == QLatin1String("03") && fields[2] == QLatin1String("02");
    if (!reading && !search)
        return reply;

    const int length = reading ? modbus::kMeasurementReplyLength : modbus::kRegisterReplyLength;
    reply.kind = reading ? ReplyKind::BadReading : ReplyKind::BadSearch;
    if (fields.size() < length)
        return reply;
    const QByteArray bytes = receiveTextBytes(fields.mid(0, length).join(QLatin1Char(' ')));
    if (bytes.size() != length || !crcMatches(bytes))
        return reply;

    reply.address = quint8(bytes[0]);
    if (reading) {
        reply.kind = ReplyKind::Reading;
        reply.reading = decodeMeasurement(bytes);
    } else {
        reply.kind = ReplyKind::SearchAnswer;
        reply.model = hexByte(quint8(bytes[3])) + hexByte(quint8(bytes[4]));
    }
    return reply;
}
