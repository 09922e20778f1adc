#pragma once

#include "mqtt/MqttSettings.h"

#include <QWidget>

#include <optional>

class LiteConnection;
class MqttPublisher;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The window "mqttSetting" (MQTT设置): the broker that readings are published
// to, and Home Assistant's discovery prefix (or none). 保存 stores the
// settings in table mqttsetting and the program publishes with them at once;
// with 启用MQTT发布 unticked it removes the row, and nothing is published.
// 测试连接 tries the typed settings once and says whether the broker accepts
// them, or its reason. The password never appears in a message.
class MqttSettingsDialog : public QWidget {
    Q_OBJECT
public:
    // `publisher` (may be null) publishes with the settings saved here.
    MqttSettingsDialog(LiteConnection *db, MqttPublisher *publisher, QWidget *parent = nullptr);

    void fillFromSettings();
    // The operator's clicks.
    void save();            // 保存
    void testConnection();  // 测试连接

    // The settings typed in, or nothing with a message box that says what is
    // wrong (and the box to correct in focus).
    std::optional<MqttSettings> typedSettings();

private:
    void buildControls();
    void fill(const MqttSettings &settings);
    void showState(const QString &text);

    LiteConnection *db_;
    MqttPublisher *publisher_;
    QCheckBox *enabled_ = nullptr;
    QLineEdit *host_ = nullptr;
    QLineEdit *port_ = nullptr;
    QLineEdit *prefix_ = nullptr;
    QLineEdit *username_ = nullptr;
    QLineEdit *password_ = nullptr;
    QCheckBox *tls_ = nullptr;
    QCheckBox *discovery_ = nullptr;
    QLineEdit *discoveryPrefix_ = nullptr;
    QLabel *state_ = nullptr;
    QPushButton *save_ = nullptr;
    QPushButton *test_ = nullptr;
    QPushButton *exit_ = nullptr;
};
