#include "mqtt/MqttStatus.h"

#include "mqtt/MqttSocket.h"

#include <mosquitto.h>

namespace mqttstatus {

QString text(const MqttStatus &s) {
    switch (s.state) {
        case MqttStatus::State::Off:
            return {};
        case MqttStatus::State::Connecting:
            return QStringLiteral("MQTT：正在连接 ") + s.server;
        case MqttStatus::State::Connected: {
            QString t = QStringLiteral("MQTT：已连接 ") + s.server;
            if (s.dropped > 0)
                t += QStringLiteral("（队列溢出共丢弃 %1 条）").arg(s.dropped);
            return t;
        }
        case MqttStatus::State::Waiting: {
            QString t = QStringLiteral("MQTT：未连接 ") + s.server;
            if (!s.reason.isEmpty())
                t += QStringLiteral("（") + s.reason + QStringLiteral("）");
            t += QStringLiteral("，%1秒后重试").arg(s.retrySeconds);
            if (s.overflow)
                t += QStringLiteral("；队列已满（%1 条），最早的消息被丢弃").arg(s.limit);
            else if (s.queued > 0)
                t += QStringLiteral("，待发送 %1 条").arg(s.queued);
            return t;
        }
    }
    return {};
}

QString refusal(int code) {
    switch (code) {
        case 1:
            return QStringLiteral("代理拒绝连接：不支持此协议版本");
        case 2:
            return QStringLiteral("代理拒绝连接：客户端标识被拒绝");
        case 3:
            return QStringLiteral("代理拒绝连接：服务暂时不可用");
        case 4:
            return QStringLiteral("代理拒绝连接：用户名或密码错误");
        case 5:
            return QStringLiteral("代理拒绝连接：未获授权（用户名或密码错误，或不允许匿名登录）");
        default:
            return QStringLiteral("代理拒绝连接（代码 %1）").arg(code);
    }
}

QString failure(int rc, int systemError) {
    switch (rc) {
        case MOSQ_ERR_ERRNO:
            switch (mqttsocket::kind(systemError)) {
                case mqttsocket::Failure::Refused:
                    return QStringLiteral("连接被拒绝：代理未运行或端口不对");
                case mqttsocket::Failure::TimedOut:
                    return QStringLiteral("连接超时");
                case mqttsocket::Failure::HostUnreachable:
                    return QStringLiteral("主机不可达");
                case mqttsocket::Failure::NetworkUnreachable:
                    return QStringLiteral("网络不可达");
                case mqttsocket::Failure::Reset:
                    return QStringLiteral("连接被对方重置");
                case mqttsocket::Failure::Broken:
                    return QStringLiteral("连接中断");
                case mqttsocket::Failure::Other:
                    return mqttsocket::describe(systemError);
            }
            return {};
        case MOSQ_ERR_EAI:
        case MOSQ_ERR_LOOKUP:
            return QStringLiteral("找不到主机");
        case MOSQ_ERR_TLS:
        case MOSQ_ERR_TLS_HANDSHAKE:
            return tlsFailure({});
        case MOSQ_ERR_CONN_LOST:
            return QStringLiteral("连接中断");
        case MOSQ_ERR_KEEPALIVE:
            return QStringLiteral("代理无响应（心跳超时）");
        case MOSQ_ERR_PROTOCOL:
        case MOSQ_ERR_MALFORMED_PACKET:
            return QStringLiteral("协议错误");
        case MOSQ_ERR_NO_CONN:
            return QStringLiteral("没有连接");
        default:
            return QString::fromUtf8(mosquitto_strerror(rc));
    }
}

QString tlsFailure(const QString &opensslText) {
    if (opensslText.contains(QLatin1String("certificate"), Qt::CaseInsensitive))
        return QStringLiteral("TLS握手失败：证书不受信任或与主机名不符");
    return QStringLiteral("TLS握手失败：代理没有以TLS应答（这个端口可能不使用TLS）");
}

}  // namespace mqttstatus
