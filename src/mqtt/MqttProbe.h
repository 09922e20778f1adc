#pragma once

#include "mqtt/MqttClient.h"
#include "mqtt/MqttSettings.h"

#include <QObject>

class QTimer;

// The settings window's 测试连接: one connection attempt with the settings
// typed in, which says whether the broker accepted them and, if not, why.
// Nothing is published, and no last will is left. It runs in the thread it
// lives in; run() starts it and finished() comes once.
class MqttProbe : public QObject {
    Q_OBJECT
public:
    MqttProbe(const MqttSettings &settings, int timeoutMs, QObject *parent = nullptr);

    void run();

Q_SIGNALS:
    void finished(bool accepted, const QString &text);

private:
    void done(bool accepted, const QString &reason);

    MqttSettings settings_;
    int timeoutMs_;
    QTimer *timeout_ = nullptr;
    MqttTransportPtr client_;
    bool reported_ = false;
};
