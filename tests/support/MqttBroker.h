#pragma once

#include "mqtt/MqttSettings.h"
#include "support/ChildProcess.h"

#include <QList>
#include <QPair>

// A mosquitto broker as a child process of a test, listening on 127.0.0.1 at
// a free port, with its configuration, password file and certificates in a
// temporary directory of its own.
//
//     MqttBroker broker;
//     QVERIFY2(broker.start(), qPrintable(broker.errorString()));
//     ... 127.0.0.1:broker.port() ...
//     broker.stop();    // SIGTERM
//     broker.start();   // the same port again
class MqttBroker : public ChildProcess {
public:
    struct Options {
        // Logins the broker accepts; with any, anonymous clients are refused.
        QList<QPair<QString, QString>> users = {};
        // TLS with a certificate of the test's own for 127.0.0.1 (caFile());
        // needs the openssl program.
        bool tls = false;
    };

    explicit MqttBroker(const Options &options);
    MqttBroker() : MqttBroker(Options{}) {}

    // The mosquitto program (/usr/sbin/mosquitto or on the PATH), or empty.
    static QString program();

    // Starts and waits (bounded) until the broker serves. False, with the
    // reason and the log in errorString(), when it did not (a machine
    // without mosquitto fails so too: the broker is part of the suite).
    bool start(int timeoutMs = 10000);

    // Chosen when the object is made, so that a client can be pointed at a
    // broker that is not running yet; the same for every start.
    quint16 port() const { return port_; }
    // Settings that point the program at this broker (prefix qx7, no login);
    // with a `port`, at another way to it on 127.0.0.1, such as a relay.
    MqttSettings settings(quint16 port = 0) const;
    // The broker's certificate, to be trusted as a CA (Options::tls).
    QString caFile() const;
    QString errorString() const { return error_; }

private:
    bool prepare();

    Options options_;
    quint16 port_ = 0;
    QString error_;
};
