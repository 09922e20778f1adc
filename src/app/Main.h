#pragma once

#include <QString>

class MDImain;
class SerialPort;

// Starts the program inside a running QApplication: opens mydb.db in the
// directory of the executable (or in `dataDir` when given), creates the tables
// of a new or empty file, shows the main frame and opens its serial port,
// unless a logger (qx7logger) acquires for that folder: the frame then
// shows what it reads, and opens the port when it goes.
//
// Returns the frame, or nullptr when the database cannot be used; the
// operator has then been told the path and the reason, and the program should
// end with a non-zero status.
MDImain *Main(const QString &dataDir = QString(), SerialPort *port = nullptr);
