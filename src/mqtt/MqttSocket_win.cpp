#include "mqtt/MqttSocket.h"

#include <winsock2.h>

#include <cerrno>
#include <cstring>

// libmosquitto reports socket failures in errno, copied from
// WSAGetLastError(); both kinds of number are understood here.
namespace mqttsocket {

int pendingError(int socket) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(SOCKET(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&error),
                   &length) != 0)
        return WSAGetLastError();
    return error;
}

int lastError() {
    return errno != 0 ? errno : WSAGetLastError();
}

void clearLastError() {
    errno = 0;
    WSASetLastError(0);
}

Failure kind(int error) {
    switch (error) {
        case WSAECONNREFUSED:
        case ECONNREFUSED:
            return Failure::Refused;
        case WSAETIMEDOUT:
        case ETIMEDOUT:
            return Failure::TimedOut;
        case WSAEHOSTUNREACH:
        case EHOSTUNREACH:
            return Failure::HostUnreachable;
        case WSAENETUNREACH:
        case ENETUNREACH:
            return Failure::NetworkUnreachable;
        case WSAECONNRESET:
        case ECONNRESET:
            return Failure::Reset;
        case WSAECONNABORTED:
        case EPIPE:
            return Failure::Broken;
        default:
            return Failure::Other;
    }
}

QString describe(int error) {
    if (error >= WSABASEERR) {
        wchar_t *text = nullptr;
        const DWORD length = FormatMessageW(
            FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                FORMAT_MESSAGE_IGNORE_INSERTS,
            nullptr, DWORD(error), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
        const QString out = QString::fromWCharArray(text, int(length)).trimmed();
        LocalFree(text);
        return out;
    }
    return QString::fromLocal8Bit(std::strerror(error));
}

}  // namespace mqttsocket
