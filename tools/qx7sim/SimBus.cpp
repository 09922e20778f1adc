#include "SimBus.h"

#include "SimFrames.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

using namespace simframe;

namespace {
// Readings the modules start from and drift around, by position on the bus.
constexpr double kBaseTemperature[] = {23.5, 26.0, -2.5, 18.0, 30.5};
constexpr double kBaseHumidity[] = {45.0, 62.0, 85.0, 38.0, 55.0};
constexpr int kBases = 5;

// Random walk: pulled back to the base with a time constant of five minutes;
// the spread stays near 0.4 °C and 1.2 %RH.
constexpr double kPullPerSecond = 1.0 / 300;
constexpr double kTemperatureSigma = 0.03;  // per square root of a second
constexpr double kHumiditySigma = 0.1;

constexpr int kMaxTurnaroundMs = 500;

quint16 word(QByteArrayView b, int at) {
    return quint16(quint8(b[at]) << 8 | quint8(b[at + 1]));
}

void appendWord(QByteArray &out, quint16 v) {
    out.append(char(v >> 8));
    out.append(char(v & 0xFF));
}

bool isHoldingRegister(quint16 reg) {
    return reg == kRegAddress || reg == kRegSpeed || reg == kRegModel || reg == kRegTurnaround;
}

}  // namespace

double SimRamp::valueAt(qint64 nowMs) {
    if (startMs < 0)
        startMs = nowMs;
    const double period = 2 * seconds;
    double t = std::fmod((nowMs - startMs) / 1000.0, period);
    if (t < 0)
        t += period;
    const double share = t <= seconds ? t / seconds : (period - t) / seconds;
    return from + (to - from) * share;
}

qint16 SimModule::temperatureRaw() const {
    return qint16(std::lround(std::clamp(temperature, -40.0, 125.0) * 10));
}

quint16 SimModule::humidityRaw() const {
    return quint16(std::lround(std::clamp(humidity, 0.0, 100.0) * 10));
}

SimBus::SimBus(const QList<int> &addresses, int baud, const FaultOptions &faults, quint32 seed)
    : baud_(baud > 0 ? baud : 9600), faults_(faults), rng_(seed) {
    for (int i = 0; i < addresses.size(); ++i) {
        SimModule m;
        m.address = quint8(addresses[i]);
        m.speedCode = speedCodeFor(baud_);
        m.baseTemperature = m.temperature = kBaseTemperature[i % kBases] + (i / kBases) * 0.7;
        m.baseHumidity = m.humidity = kBaseHumidity[i % kBases];
        modules_ << m;
    }
}

SimModule *SimBus::module(quint8 address) {
    for (SimModule &m : modules_) {
        if (m.address == address)
            return &m;
    }
    return nullptr;
}

quint16 SimBus::speedCodeFor(int baud) {
    static const int speeds[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    for (quint16 i = 0; i < 8; ++i) {
        if (speeds[i] >= baud)
            return i;
    }
    return 7;
}

qint64 SimBus::lineMicros(int bytes) const {
    return qint64(bytes) * 10 * 1000000 / baud_;
}

bool SimBus::chance(double share) {
    if (share <= 0)
        return false;
    if (share >= 1)
        return true;
    return std::uniform_real_distribution<double>(0, 1)(rng_) < share;
}

bool SimBus::setReadings(quint8 address, double temperature, double humidity) {
    SimModule *m = module(address);
    if (!m)
        return false;
    m->fixed = true;
    m->temperature = std::clamp(temperature, -40.0, 125.0);
    m->humidity = std::clamp(humidity, 0.0, 100.0);
    return true;
}

bool SimBus::setRamp(quint8 address, const SimRamp &ramp) {
    SimModule *m = module(address);
    if (!m)
        return false;
    m->ramp = ramp;
    return true;
}

void SimBus::drift(SimModule &m, qint64 nowMs) {
    if (!m.fixed)
        walk(m, nowMs);
    if (m.ramp)
        m.temperature = std::clamp(m.ramp->valueAt(nowMs), -40.0, 125.0);
}

void SimBus::walk(SimModule &m, qint64 nowMs) {
    if (m.lastDriftMs < 0 || nowMs <= m.lastDriftMs) {
        m.lastDriftMs = std::max(m.lastDriftMs, nowMs);
        return;
    }
    const double dt = std::min((nowMs - m.lastDriftMs) / 1000.0, 3600.0);
    m.lastDriftMs = nowMs;
    // Ornstein-Uhlenbeck step, exact for any dt.
    const double keep = std::exp(-kPullPerSecond * dt);
    const double spread = std::sqrt((1 - keep * keep) / (2 * kPullPerSecond));
    std::normal_distribution<double> normal(0, 1);
    m.temperature = m.baseTemperature + (m.temperature - m.baseTemperature) * keep +
                    kTemperatureSigma * spread * normal(rng_);
    m.humidity = m.baseHumidity + (m.humidity - m.baseHumidity) * keep +
                 kHumiditySigma * spread * normal(rng_);
    m.temperature = std::clamp(m.temperature, -40.0, 125.0);
    m.humidity = std::clamp(m.humidity, 0.0, 100.0);
}

QByteArray SimBus::exception(quint8 address, quint8 function, quint8 code, QString *note) {
    *note = QStringLiteral("exception %1").arg(code, 2, 16, QLatin1Char('0'));
    const char body[3] = {char(address), char(function | 0x80), char(code)};
    return sealed(QByteArrayView(body, 3));
}

QByteArray SimBus::answer(SimModule &m, QByteArrayView request, QString *note) {
    const quint8 address = quint8(request[0]);
    const quint8 function = quint8(request[1]);
    if (function != kReadInput && function != kReadHolding && function != kWriteSingle)
        return exception(address, function, simex::kIllegalFunction, note);
    if (request.size() != 8)
        return exception(address, function, simex::kIllegalValue, note);

    const quint16 first = word(request, 2);
    const quint16 second = word(request, 4);
    QByteArray out;
    out.append(char(address));
    out.append(char(function));

    if (function == kReadInput) {
        if (second < 1 || second > 125)
            return exception(address, function, simex::kIllegalValue, note);
        if (first > kRegHumidity || first + second - 1 > kRegHumidity)
            return exception(address, function, simex::kIllegalAddress, note);
        out.append(char(second * 2));
        for (quint16 reg = first; reg < first + second; ++reg)
            appendWord(out, reg == kRegTemperature ? quint16(m.temperatureRaw()) : m.humidityRaw());
        *note =
            QStringLiteral("%1 °C %2 %").arg(tenths(m.temperatureRaw()), tenths(m.humidityRaw()));
        return sealed(out);
    }

    if (function == kReadHolding) {
        if (second < 1 || second > 125)
            return exception(address, function, simex::kIllegalValue, note);
        QList<quint16> values;
        for (int reg = first; reg < first + second; ++reg) {
            if (!isHoldingRegister(quint16(reg)))
                return exception(address, function, simex::kIllegalAddress, note);
            switch (reg) {
                case kRegAddress:
                    values << m.address;
                    break;
                case kRegSpeed:
                    values << m.speedCode;
                    break;
                case kRegModel:
                    values << m.model;
                    break;
                default:
                    values << m.turnaround;
                    break;
            }
        }
        out.append(char(values.size() * 2));
        for (quint16 v : values) appendWord(out, v);
        return sealed(out);
    }

    // Write single register: the reply echoes the request.
    if (!isHoldingRegister(first))
        return exception(address, function, simex::kIllegalAddress, note);
    switch (first) {
        case kRegAddress: {
            const quint8 newAddress = quint8(second & 0xFF);
            if (newAddress < 1 || newAddress > 247)
                return exception(address, function, simex::kIllegalValue, note);
            // The echo still goes out under the old address; the module listens
            // to the new one from the next request on.
            m.address = newAddress;
            *note = QStringLiteral("address now %1").arg(newAddress);
            break;
        }
        case kRegSpeed:
            m.speedCode = second;
            break;
        case kRegModel:
            m.model = second;
            break;
        default:
            m.turnaround = second;
            break;
    }
    return request.toByteArray();
}

SimReply SimBus::handle(QByteArrayView request, qint64 nowMs) {
    SimReply reply;
    reply.log = hex(request);
    if (request.size() < 4 || !sealOk(request)) {
        reply.log += QStringLiteral(" -> silent (bad CRC)");
        return reply;
    }
    const quint8 address = quint8(request[0]);
    for (SimModule &m : modules_) drift(m, nowMs);

    if (address == 0) {
        // Broadcast: every module carries out a write, none answers.
        if (quint8(request[1]) == kWriteSingle && request.size() == 8) {
            QString note;
            for (SimModule &m : modules_) answer(m, request, &note);
        }
        reply.log += QStringLiteral(" -> silent (broadcast)");
        return reply;
    }
    SimModule *m = module(address);
    if (!m) {
        reply.log += QStringLiteral(" -> silent (no module %1)").arg(address);
        return reply;
    }

    const int turnaround = std::clamp(int(m->turnaround), 1, kMaxTurnaroundMs);
    QString note;
    QByteArray bytes = answer(*m, request, &note);
    QStringList faults;
    if (chance(faults_.drop)) {
        reply.log += QStringLiteral(" -> dropped");
        if (!note.isEmpty())
            reply.log += QStringLiteral(" (%1)").arg(note);
        return reply;
    }
    if (chance(faults_.badCrc)) {
        bytes[bytes.size() - 2] = char(quint8(bytes[bytes.size() - 2]) ^ 0x5A);
        faults << QStringLiteral("bad CRC");
    }
    if (chance(faults_.noise)) {
        const int count = std::uniform_int_distribution<int>(1, 3)(rng_);
        const int at = std::uniform_int_distribution<int>(0, int(bytes.size()))(rng_);
        QByteArray stray;
        for (int i = 0; i < count; ++i)
            stray.append(char(std::uniform_int_distribution<int>(0, 255)(rng_)));
        bytes.insert(at, stray);
        faults << QStringLiteral("noise %1@%2").arg(hex(stray)).arg(at);
    }
    reply.delayMs = turnaround + std::max(0, faults_.lateMs);
    if (faults_.lateMs > 0)
        faults << QStringLiteral("late %1 ms").arg(faults_.lateMs);
    if (faults_.splitMs > 0 && bytes.size() > 1) {
        reply.splitAt = int(bytes.size() / 2);
        reply.pauseMs = faults_.splitMs;
        faults << QStringLiteral("split %1 ms").arg(faults_.splitMs);
    }
    reply.bytes = bytes;
    reply.log += QStringLiteral(" -> ") + hex(bytes);
    if (!note.isEmpty())
        reply.log += QStringLiteral(" (%1)").arg(note);
    if (!faults.isEmpty())
        reply.log += QStringLiteral(" [%1]").arg(faults.join(QStringLiteral(", ")));
    return reply;
}

QList<QByteArray> RequestFramer::feed(QByteArrayView bytes) {
    buffer_.append(bytes);
    QList<QByteArray> out;
    while (buffer_.size() >= 8) {
        const quint8 function = quint8(buffer_[1]);
        const bool known =
            function == kReadInput || function == kReadHolding || function == kWriteSingle;
        if (!known || !sealOk(QByteArrayView(buffer_).first(8)))
            break;
        out << buffer_.left(8);
        buffer_.remove(0, 8);
    }
    return out;
}

QByteArray RequestFramer::flush() {
    QByteArray out;
    out.swap(buffer_);
    return out;
}

namespace {
bool parseShare(const QString &text, double *out) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !(v >= 0 && v <= 1))
        return false;
    *out = v;
    return true;
}

bool parseNumber(const QString &text, double min, double max, double *out) {
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !(v >= min && v <= max))
        return false;
    *out = v;
    return true;
}

bool parseModuleAddress(const QString &text, int *out) {
    bool ok = false;
    const int a = text.trimmed().toInt(&ok);
    if (!ok || a < 1 || a > 247)
        return false;
    *out = a;
    return true;
}

// ADR:TEMP:HUM
bool parseSetting(const QString &text, SimSetting *out) {
    const QStringList parts = text.split(QLatin1Char(':'));
    return parts.size() == 3 && parseModuleAddress(parts[0], &out->address) &&
           parseNumber(parts[1], -40, 125, &out->temperature) &&
           parseNumber(parts[2], 0, 100, &out->humidity);
}

// ADR:FROM:TO:SECONDS
bool parseRamp(const QString &text, SimRampSetting *out) {
    const QStringList parts = text.split(QLatin1Char(':'));
    return parts.size() == 4 && parseModuleAddress(parts[0], &out->address) &&
           parseNumber(parts[1], -40, 125, &out->ramp.from) &&
           parseNumber(parts[2], -40, 125, &out->ramp.to) &&
           parseNumber(parts[3], 0.1, 86400, &out->ramp.seconds);
}

bool parseMs(const QString &text, int *out) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < 0 || v > 60000)
        return false;
    *out = v;
    return true;
}
}  // namespace

bool parseSimOptions(const QStringList &args, SimOptions *out, QString *error) {
    SimOptions o;
    for (int i = 0; i < args.size(); ++i) {
        const QString &name = args[i];
        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            o.help = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            *error = name.startsWith(QLatin1String("--"))
                         ? QStringLiteral("%1 needs a value").arg(name)
                         : QStringLiteral("unknown argument %1").arg(name);
            return false;
        }
        const QString value = args[++i];
        bool ok = true;
        if (name == QLatin1String("--serial")) {
            o.serialPath = value;
            ok = !value.isEmpty();
        } else if (name == QLatin1String("--tcp")) {
            QString port = value;
            const int colon = value.lastIndexOf(QLatin1Char(':'));
            if (colon >= 0) {
                o.tcpHost = value.left(colon);
                port = value.mid(colon + 1);
            }
            o.tcpPort = port.toInt(&ok);
            ok = ok && o.tcpPort >= 0 && o.tcpPort <= 65535 && !o.tcpHost.isEmpty();
        } else if (name == QLatin1String("--modules")) {
            o.modules.clear();
            for (const QString &part : value.split(QLatin1Char(','))) {
                const int a = part.trimmed().toInt(&ok);
                if (!ok || a < 1 || a > 247) {
                    ok = false;
                    break;
                }
                o.modules << a;
            }
            ok = ok && !o.modules.isEmpty();
        } else if (name == QLatin1String("--baud")) {
            o.baud = value.toInt(&ok);
            ok = ok && o.baud >= 50 && o.baud <= 4000000;
        } else if (name == QLatin1String("--drop")) {
            ok = parseShare(value, &o.faults.drop);
        } else if (name == QLatin1String("--bad-crc")) {
            ok = parseShare(value, &o.faults.badCrc);
        } else if (name == QLatin1String("--noise")) {
            ok = parseShare(value, &o.faults.noise);
        } else if (name == QLatin1String("--late")) {
            ok = parseMs(value, &o.faults.lateMs);
        } else if (name == QLatin1String("--split")) {
            ok = parseMs(value, &o.faults.splitMs);
        } else if (name == QLatin1String("--set")) {
            SimSetting setting;
            ok = parseSetting(value, &setting);
            o.settings << setting;
        } else if (name == QLatin1String("--ramp")) {
            SimRampSetting ramp;
            ok = parseRamp(value, &ramp);
            o.ramps << ramp;
        } else if (name == QLatin1String("--seed")) {
            o.seed = value.toUInt(&ok);
            o.seedGiven = ok;
        } else {
            *error = QStringLiteral("unknown argument %1").arg(name);
            return false;
        }
        if (!ok) {
            *error = QStringLiteral("bad value for %1: %2").arg(name, value);
            return false;
        }
    }
    QList<int> driven;
    for (const SimSetting &setting : std::as_const(o.settings)) driven << setting.address;
    for (const SimRampSetting &ramp : std::as_const(o.ramps)) driven << ramp.address;
    for (int address : std::as_const(driven)) {
        if (!o.modules.contains(address)) {
            *error = QStringLiteral("no module %1 to drive (see --modules)").arg(address);
            return false;
        }
    }
    if (!o.help && o.serialPath.isEmpty() && o.tcpPort < 0) {
        *error = QStringLiteral("nothing to serve: give --serial LINK_PATH and/or --tcp PORT");
        return false;
    }
    *out = o;
    return true;
}

QString simUsage() {
    return QStringLiteral(
        "Usage: qx7sim [--serial LINK_PATH] [--tcp PORT] [--modules 1,2,3] [--baud 9600]\n"
        "              [--drop P] [--bad-crc P] [--late MS] [--split MS] [--noise P] [--seed N]\n"
        "              [--set ADR:TEMP:HUM] [--ramp ADR:FROM:TO:SECONDS]\n"
        "\n"
        "Simulates a bus of QX-7 temperature/humidity modules answering Modbus RTU\n"
        "(functions 04, 03 and 06) for the acquisition program, demos and tests.\n"
        "\n"
        "  --serial LINK_PATH  create a pseudo-terminal and a symlink to it at LINK_PATH;\n"
        "                      attach the program with QX7_COM1=LINK_PATH\n"
        "  --tcp PORT          also (or only) serve bare RTU frames over TCP, like the\n"
        "                      QX-LAN converter; listens on 127.0.0.1 unless given as\n"
        "                      HOST:PORT; 0 picks a free port (named in the log)\n"
        "  --modules LIST      module addresses, comma separated (default 1,2,3)\n"
        "  --baud N            line speed in bit/s; frames take as long as on a real\n"
        "                      line, 10 bits a byte (default 9600)\n"
        "  --drop P            share of replies (0 to 1) that are never sent\n"
        "  --bad-crc P         share of replies sent with a wrong CRC\n"
        "  --noise P           share of replies with 1 to 3 stray bytes inserted\n"
        "  --late MS           answer every request MS milliseconds later\n"
        "  --split MS          pause MS milliseconds in the middle of every reply\n"
        "  --seed N            seed of the random faults and readings (default: time)\n"
        "  --set ADR:TEMP:HUM  module ADR reports TEMP °C and HUM %RH, without drift\n"
        "  --ramp ADR:FROM:TO:SECONDS\n"
        "                      the temperature of module ADR goes from FROM to TO °C in\n"
        "                      SECONDS and back in as many, again and again, from its\n"
        "                      first request on (to drive it past an alarm limit)\n"
        "                      --set and --ramp may be given for several modules\n"
        "\n"
        "Prints \"ready\" on standard output once it serves, logs each exchange on\n"
        "standard error, and stops on SIGINT or SIGTERM (removing its symlink).\n");
}

void applyDrives(SimBus &bus, const SimOptions &options) {
    for (const SimSetting &s : options.settings)
        bus.setReadings(quint8(s.address), s.temperature, s.humidity);
    for (const SimRampSetting &r : options.ramps) bus.setRamp(quint8(r.address), r.ramp);
}
