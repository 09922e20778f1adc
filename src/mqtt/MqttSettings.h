#pragma once

#include <QString>

#include <optional>

class LiteConnection;

// Where the readings are published: one MQTT broker. Kept as the one row of
// table mqttsetting (host, port, prefix, username, password, tls, discovery),
// which is created the first time settings are saved. No row (or no table)
// means that nothing is published. A table from before the discovery column
// gets it at the next save; until then the default applies.
struct MqttSettings {
    static constexpr int kDefaultPort = 1883;
    static constexpr auto kDefaultPrefix = "qx7";
    static constexpr auto kDefaultDiscoveryPrefix = "homeassistant";

    QString host;
    int port = kDefaultPort;
    QString prefix = QString::fromLatin1(kDefaultPrefix);
    QString username;  // empty: no login
    QString password;  // only with a username
    bool tls = false;  // TLS, trusting the certificate authorities of the system
    // Home Assistant's discovery prefix; empty: no discovery is published.
    QString discoveryPrefix = QString::fromLatin1(kDefaultDiscoveryPrefix);

    // "host:port", as the status line and the messages name the broker.
    QString server() const;

    friend bool operator==(const MqttSettings &, const MqttSettings &) = default;
};

namespace mqttsettings {

// What is wrong with the settings, in the words of the settings window, or
// an empty text when they can be used.
QString checkHost(const QString &host);
QString checkPort(const QString &portText);
QString checkPrefix(const QString &prefix);
// Empty is allowed (no discovery).
QString checkDiscoveryPrefix(const QString &discoveryPrefix);
QString check(const MqttSettings &settings);

// The port typed into a box (1 to 65535, blanks around it allowed).
std::optional<int> parsePort(const QString &text);

struct Loaded {
    std::optional<MqttSettings> settings;  // none: publishing is off
    QString error;                         // the row could not be read or is unusable
};

// Reads the row. A missing table or row is not an error: publishing is off.
// A port outside 1 to 65535 or a tls other than 0 or 1 (blank: 0) is refused.
Loaded load(LiteConnection &db);

// Stores `settings` as the one row, creating the table when it is missing.
// All or nothing: on failure the earlier row is kept and *error says why.
bool save(LiteConnection &db, const MqttSettings &settings, QString *error);

// Switches publishing off: the row goes, the table stays.
bool remove(LiteConnection &db, QString *error);

// The statement that creates the table (only when it is missing).
QString createTableStatement();

}  // namespace mqttsettings
