#include "mqtt/MqttSocket.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace mqttsocket {

int pendingError(int socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
        return errno;
    return error;
}

int lastError() {
    return errno;
}

void clearLastError() {
    errno = 0;
}

Failure kind(int error) {
    switch (error) {
        case ECONNREFUSED:
            return Failure::Refused;
        case ETIMEDOUT:
            return Failure::TimedOut;
        case EHOSTUNREACH:
            return Failure::HostUnreachable;
        case ENETUNREACH:
            return Failure::NetworkUnreachable;
        case ECONNRESET:
            return Failure::Reset;
        case EPIPE:
            return Failure::Broken;
        default:
            return Failure::Other;
    }
}

QString describe(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace mqttsocket
