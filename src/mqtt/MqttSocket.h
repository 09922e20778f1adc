#pragma once

#include <QString>

// What the MQTT connection needs of the system's sockets, beside what
// libmosquitto does itself. One implementation per platform: POSIX sockets
// (MqttSocket_posix.cpp) and Winsock (MqttSocket_win.cpp); CMake compiles
// the one for the platform it builds on.
namespace mqttsocket {

// The error a socket holds after its connection attempt failed (refused,
// timed out, unreachable); 0 while there is none.
int pendingError(int socket);

// The system's error number of the last failed call on this thread, and a
// way to clear it before a call (errno; on Windows the socket error as well).
int lastError();
void clearLastError();

// The errors the status line names in its own words.
enum class Failure { Refused, TimedOut, HostUnreachable, NetworkUnreachable, Reset, Broken, Other };
Failure kind(int error);
// The system's own description of an error number.
QString describe(int error);

}  // namespace mqttsocket
