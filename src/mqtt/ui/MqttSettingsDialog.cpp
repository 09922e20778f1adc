#include "mqtt/ui/MqttSettingsDialog.h"

#include "mqtt/MqttPublisher.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
const QString kWindowTitle = QStringLiteral("MQTT设置");
const QString kTestCaption = QStringLiteral("测试连接");
}  // namespace

MqttSettingsDialog::MqttSettingsDialog(LiteConnection *db, MqttPublisher *publisher,
                                       QWidget *parent)
    : QWidget(parent, Qt::Window), db_(db), publisher_(publisher) {
    setObjectName(QStringLiteral("mqttSetting"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kWindowTitle);
    buildControls();
    fillFromSettings();
}

void MqttSettingsDialog::buildControls() {
    enabled_ = makeControl<QCheckBox>(this, "enabled", QStringLiteral("启用MQTT发布"));
    QLabel *hostLabel = makeControl<QLabel>(this, "hostLabel", QStringLiteral("代理地址："));
    host_ = makeControl<QLineEdit>(this, "host", QString());
    QLabel *portLabel = makeControl<QLabel>(this, "portLabel", QStringLiteral("端口："));
    port_ = makeControl<QLineEdit>(this, "port", QString());
    port_->setFixedWidth(70);
    QLabel *prefixLabel = makeControl<QLabel>(this, "prefixLabel", QStringLiteral("主题前缀："));
    prefix_ = makeControl<QLineEdit>(this, "prefix", QString());
    QLabel *userLabel = makeControl<QLabel>(this, "usernameLabel", QStringLiteral("用户名："));
    username_ = makeControl<QLineEdit>(this, "username", QString());
    QLabel *passwordLabel = makeControl<QLabel>(this, "passwordLabel", QStringLiteral("密码："));
    password_ = makeControl<QLineEdit>(this, "password", QString());
    password_->setEchoMode(QLineEdit::Password);
    tls_ = makeControl<QCheckBox>(this, "tls", QStringLiteral("使用TLS加密（信任系统的CA证书）"));
    discovery_ =
        makeControl<QCheckBox>(this, "discovery", QStringLiteral("Home Assistant自动发现，前缀："));
    discoveryPrefix_ = makeControl<QLineEdit>(this, "discoveryPrefix", QString());
    state_ = makeControl<QLabel>(this, "mqttState", QString());
    state_->setWordWrap(true);
    save_ = makeControl<QPushButton>(this, "save", QStringLiteral("保存"));
    test_ = makeControl<QPushButton>(this, "test", kTestCaption);
    exit_ = makeControl<QPushButton>(this, "exit", QStringLiteral("退出"));

    hostLabel->setBuddy(host_);
    portLabel->setBuddy(port_);
    prefixLabel->setBuddy(prefix_);
    userLabel->setBuddy(username_);
    passwordLabel->setBuddy(password_);

    auto *grid = new QGridLayout;
    grid->addWidget(hostLabel, 0, 0);
    grid->addWidget(host_, 0, 1);
    grid->addWidget(portLabel, 0, 2);
    grid->addWidget(port_, 0, 3);
    grid->addWidget(prefixLabel, 1, 0);
    grid->addWidget(prefix_, 1, 1, 1, 3);
    grid->addWidget(userLabel, 2, 0);
    grid->addWidget(username_, 2, 1, 1, 3);
    grid->addWidget(passwordLabel, 3, 0);
    grid->addWidget(password_, 3, 1, 1, 3);
    grid->addWidget(tls_, 4, 1, 1, 3);
    grid->addWidget(discovery_, 5, 1);
    grid->addWidget(discoveryPrefix_, 5, 2, 1, 2);
    grid->setColumnStretch(1, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(save_);
    buttons->addWidget(test_);
    buttons->addStretch();
    buttons->addWidget(exit_);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(enabled_);
    layout->addLayout(grid);
    layout->addWidget(state_);
    layout->addLayout(buttons);
    setMinimumWidth(420);

    connect(save_, &QPushButton::clicked, this, &MqttSettingsDialog::save);
    connect(test_, &QPushButton::clicked, this, &MqttSettingsDialog::testConnection);
    connect(exit_, &QPushButton::clicked, this, &QWidget::close);
    connect(discovery_, &QCheckBox::toggled, discoveryPrefix_, &QWidget::setEnabled);
    if (publisher_)
        connect(publisher_, &MqttPublisher::stateChanged, this, &MqttSettingsDialog::showState);
}

void MqttSettingsDialog::fillFromSettings() {
    const mqttsettings::Loaded loaded = mqttsettings::load(*db_);
    enabled_->setChecked(loaded.settings.has_value());
    MqttSettings defaults;
    defaults.host = QStringLiteral("127.0.0.1");
    fill(loaded.settings.value_or(defaults));
    MqttPublisher *publisher = publisher_;
    showState(!loaded.error.isEmpty() ? loaded.error
                                      : (publisher ? publisher->statusText() : QString()));
}

void MqttSettingsDialog::fill(const MqttSettings &s) {
    host_->setText(s.host);
    port_->setText(QString::number(s.port));
    prefix_->setText(s.prefix);
    username_->setText(s.username);
    password_->setText(s.password);
    tls_->setChecked(s.tls);
    discovery_->setChecked(!s.discoveryPrefix.isEmpty());
    discoveryPrefix_->setEnabled(discovery_->isChecked());
    discoveryPrefix_->setText(s.discoveryPrefix.isEmpty()
                                  ? QString::fromLatin1(MqttSettings::kDefaultDiscoveryPrefix)
                                  : s.discoveryPrefix);
}

void MqttSettingsDialog::showState(const QString &text) {
    state_->setText(text.isEmpty() ? QStringLiteral("MQTT：未启用") : text);
}

std::optional<MqttSettings> MqttSettingsDialog::typedSettings() {
    auto refuse = [this](const QString &problem, QLineEdit *box) {
        msgBox(this, problem, MsgButtons::Ok, MsgIcon::Warning, kWindowTitle);
        box->setFocus();
        box->selectAll();
        return std::nullopt;
    };
    MqttSettings s;
    s.host = host_->text().trimmed();
    if (const QString problem = mqttsettings::checkHost(s.host); !problem.isEmpty())
        return refuse(problem, host_);
    const auto port = mqttsettings::parsePort(port_->text());
    if (!port)
        return refuse(mqttsettings::checkPort(port_->text()), port_);
    s.port = *port;
    s.prefix = prefix_->text().trimmed();
    if (const QString problem = mqttsettings::checkPrefix(s.prefix); !problem.isEmpty())
        return refuse(problem, prefix_);
    s.username = username_->text().trimmed();
    s.password = password_->text();
    s.tls = tls_->isChecked();
    s.discoveryPrefix = discovery_->isChecked() ? discoveryPrefix_->text().trimmed() : QString();
    if (discovery_->isChecked() && s.discoveryPrefix.isEmpty())
        return refuse(QStringLiteral("请填写自动发现前缀，或不勾选自动发现。"), discoveryPrefix_);
    if (const QString problem = mqttsettings::checkDiscoveryPrefix(s.discoveryPrefix);
        !problem.isEmpty())
        return refuse(problem, discoveryPrefix_);
    if (const QString problem = mqttsettings::check(s); !problem.isEmpty())
        return refuse(problem, username_);
    return s;
}

void MqttSettingsDialog::save() {
    LiteConnection &db = *db_;
    MqttPublisher *publisher = publisher_;
    if (!enabled_->isChecked()) {
        QString error;
        if (!mqttsettings::remove(db, &error)) {
            msgBox(this, QStringLiteral("无法保存MQTT设置：") + error, MsgButtons::Ok,
                   MsgIcon::Warning, kWindowTitle);
            return;
        }
        if (publisher)
            publisher->apply(std::nullopt);
        showState(QString());
        return;
    }
    const std::optional<MqttSettings> settings = typedSettings();
    if (!settings)
        return;
    QString error;
    if (!mqttsettings::save(db, *settings, &error)) {
        msgBox(this, QStringLiteral("无法保存MQTT设置：") + error, MsgButtons::Ok, MsgIcon::Warning,
               kWindowTitle);
        return;
    }
    if (publisher)
        publisher->apply(settings);
}

void MqttSettingsDialog::testConnection() {
    const std::optional<MqttSettings> settings = typedSettings();
    if (!settings)
        return;
    test_->setEnabled(false);
    test_->setText(QStringLiteral("正在测试…"));
    MqttPublisher::testConnection(*settings, this, [this](bool accepted, const QString &text) {
        test_->setEnabled(true);
        test_->setText(kTestCaption);
        msgBox(this, text, MsgButtons::Ok, accepted ? MsgIcon::Information : MsgIcon::Warning,
               kWindowTitle);
    });
}
