// mqtt_child PORT PREFIX
//
// Publishes the way the program does, to the broker at 127.0.0.1:PORT: once
// connected it publishes one reading of module 1, prints "connected" and
// waits to be killed. The broker test kills it to see the last will.
#include "mqtt/MqttPublisher.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fputs("usage: mqtt_child PORT PREFIX\n", stderr);
        return 2;
    }
    MqttSettings settings;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = args[1].toInt();
    settings.prefix = args[2];

    MqttPublisher publisher;
    bool published = false;
    QObject::connect(&publisher, &MqttPublisher::statusChanged, [&](const MqttStatus &status) {
        if (status.state != MqttStatus::State::Connected || published)
            return;
        published = true;
        publisher.publishReading(1, 21.5, 40, QStringLiteral("2024-03-05 10:00:00"));
        std::puts("connected");
        std::fflush(stdout);
    });
    publisher.apply(settings);
    return app.exec();
}
