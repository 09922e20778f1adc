#pragma once

#include <QString>
#include <QStringList>

#include <optional>

class LiteConnection;

// The two settings of the serial port kept in syssetting: rs232port, the
// port number minus one ("0" is port 1), and rs232speed, the line speed in
// bit/s. The main frame reads them at start and the settings dialog writes
// them; both go through here.
struct PortSettings {
    // The port number (1-based) and the speed text; each missing when its
    // row is missing or does not hold a usable value.
    std::optional<int> commPort;
    std::optional<QString> speed;
    // What was wrong, one line each, for the frame's status line.
    QStringList problems;

    // Reads both rows. A database failure is a problem too.
    static PortSettings load(LiteConnection &db);
    // Stores the port (as its list index) and the speed (trimmed) together,
    // in one transaction. False, with the database's answer, when they could
    // not be stored; then neither is.
    static bool save(LiteConnection &db, int commPort, const QString &speed, QString *error);

    // The port number a stored rs232port means: a whole number from 0 up
    // gives that number plus one.
    static std::optional<int> commPortOf(const QString &stored);
};
