#include "mqtt/MqttProbe.h"

#include "mqtt/MqttStatus.h"

#include <QTimer>

namespace {
QString acceptedText(const MqttSettings &settings) {
    return QStringLiteral("连接成功：MQTT代理 ") + settings.server() +
           (settings.tls ? QStringLiteral(" 通过TLS") : QString()) +
           QStringLiteral(" 接受了连接。");
}

QString failedText(const MqttSettings &settings, const QString &reason) {
    return QStringLiteral("无法连接MQTT代理 ") + settings.server() + QStringLiteral("：") + reason +
           QStringLiteral("。");
}
}  // namespace

MqttProbe::MqttProbe(const MqttSettings &settings, int timeoutMs, QObject *parent)
    : QObject(parent), settings_(settings), timeoutMs_(timeoutMs) {
    timeout_ = new QTimer(this);
    timeout_->setSingleShot(true);
    connect(timeout_, &QTimer::timeout, this, [this] {
        done(false, QStringLiteral("连接超时（%1秒内没有应答）").arg((timeoutMs_ + 999) / 1000));
    });
}

void MqttProbe::run() {
    auto client = std::make_unique<MqttClient>(
        settings_, MqttClient::Options{newMqttClientId("qx7probe"), std::nullopt, 30});
    const QString error = client->open();
    client_ = MqttTransportPtr(client.release());
    if (!error.isEmpty()) {
        done(false, error);
        return;
    }
    MqttTransport *t = client_.get();
    connect(t, &MqttTransport::accepted, this, [this] { done(true, {}); });
    connect(t, &MqttTransport::refused, this,
            [this](int code) { done(false, mqttstatus::refusal(code)); });
    connect(t, &MqttTransport::lost, this, [this](const QString &why) { done(false, why); });
    timeout_->start(timeoutMs_);
}

void MqttProbe::done(bool accepted, const QString &reason) {
    if (reported_)
        return;
    reported_ = true;
    timeout_->stop();
    if (client_) {
        QObject::disconnect(client_.get(), nullptr, this, nullptr);
        if (accepted)
            client_->disconnect();
        client_.reset();
    }
    Q_EMIT finished(accepted, accepted ? acceptedText(settings_) : failedText(settings_, reason));
}
