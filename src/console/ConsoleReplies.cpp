#include "console/ConsoleReplies.h"

#include <algorithm>

namespace console {

void Extremes::add(const Measurement &m) {
    const int t = m.temperatureRaw;
    const int h = m.humidityRaw;
    if (!started_) {
        tmax_ = tmin_ = t;
        hmax_ = hmin_ = h;
        started_ = true;
        return;
    }
    tmax_ = std::max(tmax_, t);
    tmin_ = std::min(tmin_, t);
    hmax_ = std::max(hmax_, h);
    hmin_ = std::min(hmin_, h);
}

QString Extremes::tmax() const {
    return started_ ? tenthsText(tmax_) : QString();
}
QString Extremes::tmin() const {
    return started_ ? tenthsText(tmin_) : QString();
}
QString Extremes::hmax() const {
    return started_ ? tenthsText(hmax_) : QString();
}
QString Extremes::hmin() const {
    return started_ ? tenthsText(hmin_) : QString();
}

SerialReplyOutcome decideSerialReply(const QString &text, ReplyMode mode, bool polling,
                                     int expectedAddress) {
    SerialReplyOutcome out;
    if (mode == ReplyMode::Command) {
        out.logLine = text;
        return out;
    }
    if (text.trimmed().isEmpty() || !polling)
        return out;
    const ReplyCheck check = checkMeasurementReply(text, expectedAddress);
    if (check.failed()) {
        out.logLine = check.message();
        out.count = SerialReplyOutcome::Count::Failure;
        out.keepText = true;
        return out;
    }
    if (!check.ok())
        return out;
    out.logLine = text;
    out.measurement = check.measurement();
    // A humidity that cannot be shown ends the handling there: the
    // temperature is shown, nothing is counted.
    if (out.measurement->humidityShowable())
        out.count = SerialReplyOutcome::Count::Success;
    return out;
}

}  // namespace console
