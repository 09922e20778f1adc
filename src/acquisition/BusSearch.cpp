#include "acquisition/BusSearch.h"

#include "store/ValueText.h"

BusSearch::Probe BusSearch::next() {
    if (address < kFirstAddress || address > kLastAddress)
        address = kFirstAddress;
    Probe probe;
    probe.address = quint8(address);
    probe.last = address == kLastAddress;
    ++address;
    return probe;
}

QString BusSearch::caption(int address) {
    return QStringLiteral("地址：") + QString::number(address);
}

QString BusSearch::question(quint8 address, const QString &model) {
    return QStringLiteral("找到地址为") + QString::number(address) + QStringLiteral("型号为") +
           model + QStringLiteral("的模块，要加到系统中吗?");
}

std::optional<quint8> parseBusAddress(const QString &text) {
    const auto v = parseRounded(text, 0, 255);
    if (!v)
        return std::nullopt;
    return quint8(*v);
}
