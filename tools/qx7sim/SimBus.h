#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>
#include <random>

// The simulated QX-7 bus: a few modules behind one line, answering Modbus RTU
// requests as the real modules do, with faults on demand. No I/O here: the
// links (pseudo-terminal, TCP) hand complete requests in and put the replies
// on their line at the times given.

// Faults applied to replies.
struct FaultOptions {
    double drop = 0;    // share of replies that never leave the module
    double badCrc = 0;  // share of replies whose CRC is spoilt
    double noise = 0;   // share of replies with 1 to 3 stray bytes inserted
    int lateMs = 0;     // extra wait before every reply
    int splitMs = 0;    // pause in the middle of every reply (0: none)
};

// A temperature driven on a triangle: from `from` to `to` in `seconds`, back
// in as many, and again, from the first moment it is asked for.
struct SimRamp {
    double from = 0;
    double to = 0;
    double seconds = 1;
    qint64 startMs = -1;

    double valueAt(qint64 nowMs);
};

// One module on the bus.
struct SimModule {
    quint8 address = 1;
    quint16 speedCode = 3;    // holding register 1
    quint16 model = 0x0007;   // holding register 2
    quint16 turnaround = 5;   // holding register 0x0D: ms from request end to reply
    double temperature = 20;  // °C, drifts around baseTemperature
    double humidity = 50;     // %RH, drifts around baseHumidity, 0 to 100
    double baseTemperature = 20;
    double baseHumidity = 50;
    qint64 lastDriftMs = -1;
    // Readings set from outside stay where they are (no drift).
    bool fixed = false;
    // The temperature follows this ramp (the humidity drifts, or stays fixed).
    std::optional<SimRamp> ramp;

    // The readings as the module reports them, in tenths.
    qint16 temperatureRaw() const;
    quint16 humidityRaw() const;
};

// What the bus does with one request.
struct SimReply {
    QByteArray bytes;  // what goes on the line, faults applied; empty: silence
    int delayMs = 0;   // from the end of the request to the first reply byte
    int splitAt = 0;   // bytes sent before the pause; 0: no pause
    int pauseMs = 0;
    QString log;  // one line for the exchange log (request, reply, faults)
};

// Modbus exception codes.
namespace simex {
inline constexpr quint8 kIllegalFunction = 0x01;
inline constexpr quint8 kIllegalAddress = 0x02;
inline constexpr quint8 kIllegalValue = 0x03;
}  // namespace simex

class SimBus {
public:
    // Modules get the addresses in order; their base readings differ (the
    // third one sits in a cold room, below zero).
    SimBus(const QList<int> &addresses, int baud, const FaultOptions &faults, quint32 seed);

    // A complete request as received (CRC included), at nowMs on a steady clock.
    SimReply handle(QByteArrayView request, qint64 nowMs);

    QList<SimModule> &modules() { return modules_; }
    // The first module with that address, or nullptr.
    SimModule *module(quint8 address);
    int baud() const { return baud_; }
    const FaultOptions &faults() const { return faults_; }

    // The speed code a module reports for a bus speed (1200 -> 0 ... 115200 -> 7).
    static quint16 speedCodeFor(int baud);
    // Time on the line of n bytes at the bus speed, 10 bits a byte, in microseconds.
    qint64 lineMicros(int bytes) const;

    // Moves a module's readings on to nowMs (a slow random walk pulled back to
    // its base; humidity kept within 0 to 100 %), unless they are fixed; a
    // ramp then sets the temperature.
    void drift(SimModule &m, qint64 nowMs);

    // Fixes the readings of the module at `address` (false: no such module).
    bool setReadings(quint8 address, double temperature, double humidity);
    // Drives its temperature on a ramp (false: no such module).
    bool setRamp(quint8 address, const SimRamp &ramp);

private:
    // The reply of module m (or of the bus for a broadcast), before faults.
    QByteArray answer(SimModule &m, QByteArrayView request, QString *note);
    QByteArray exception(quint8 address, quint8 function, quint8 code, QString *note);
    bool chance(double share);
    // The random walk of drift().
    void walk(SimModule &m, qint64 nowMs);

    QList<SimModule> modules_;
    int baud_;
    FaultOptions faults_;
    std::mt19937 rng_;
};

// Cuts the bytes that arrive on a link into requests. An 8-byte request of
// function 03, 04 or 06 whose CRC checks is complete at once; anything else
// ends when the line falls silent (flush).
class RequestFramer {
public:
    // Adds bytes; returns the requests that are complete now.
    QList<QByteArray> feed(QByteArrayView bytes);
    // The line has been quiet: whatever is left is one frame.
    QByteArray flush();
    bool pending() const { return !buffer_.isEmpty(); }

private:
    QByteArray buffer_;
};

// --set ADR:TEMP:HUM and --ramp ADR:FROM:TO:SECONDS.
struct SimSetting {
    int address = 0;
    double temperature = 0;
    double humidity = 0;
};
struct SimRampSetting {
    int address = 0;
    SimRamp ramp;
};

// The command line of qx7sim.
struct SimOptions {
    QString serialPath;  // --serial LINK_PATH
    QString tcpHost = QStringLiteral("127.0.0.1");
    int tcpPort = -1;  // --tcp [HOST:]PORT; -1: no TCP, 0: any free port
    QList<int> modules{1, 2, 3};
    int baud = 9600;
    FaultOptions faults;
    QList<SimSetting> settings;
    QList<SimRampSetting> ramps;
    quint32 seed = 0;
    bool seedGiven = false;
    bool help = false;
};

// Parses the arguments (without the program name). Returns false with the
// reason in *error on a bad argument.
bool parseSimOptions(const QStringList &args, SimOptions *out, QString *error);
QString simUsage();
// Applies the --set and --ramp options to the bus.
void applyDrives(SimBus &bus, const SimOptions &options);
