#include "notify/ui/NotifySettings.h"

#include "notify/Notifier.h"
#include "store/ValueText.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
const QString kTitle = QStringLiteral("通知设置");

QString targetHint(const QString &kind) {
    if (kind == QLatin1String("wecom"))
        return QStringLiteral("https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=…");
    if (kind == QLatin1String("dingtalk"))
        return QStringLiteral("https://oapi.dingtalk.com/robot/send?access_token=…");
    if (kind == QLatin1String("feishu"))
        return QStringLiteral("https://open.feishu.cn/open-apis/bot/v2/hook/…");
    if (kind == QLatin1String("webhook"))
        return QStringLiteral("http(s)://主机:端口/路径，每条消息POST一个JSON对象");
    return QStringLiteral("smtp://主机:端口（可加STARTTLS）或 smtps://主机:端口");
}
}  // namespace

NotifySettings::NotifySettings(LiteConnection *db, QWidget *parent)
    : QWidget(parent, Qt::Window), db_(db) {
    setObjectName(QStringLiteral("NotifySettings"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(kTitle);
    buildControls();
    newChannel();
    reload();
}

void NotifySettings::buildControls() {
    list_ = makeControl<QTreeWidget>(this, "channelList");
    list_->setHeaderLabels({QStringLiteral("名称"), QStringLiteral("类型"), QStringLiteral("地址"),
                            QStringLiteral("启用")});
    list_->setRootIsDecorated(false);
    list_->header()->setStretchLastSection(false);
    list_->header()->setSectionResizeMode(2, QHeaderView::Stretch);
    list_->setMinimumWidth(360);
    connect(list_, &QTreeWidget::itemSelectionChanged, this, [this] {
        if (const NotifyChannel *c = chosen())
            showChannel(*c);
    });

    kind_ = makeControl<QComboBox>(this, "kind");
    for (const QString &k : notifychannel::kinds()) kind_->addItem(notifychannel::kindText(k), k);
    connect(kind_, &QComboBox::currentIndexChanged, this, &NotifySettings::kindChanged);
    name_ = makeControl<QLineEdit>(this, "name");
    target_ = makeControl<QLineEdit>(this, "target");
    targetHint_ = makeControl<QLabel>(this, "targetHint", QString());
    targetHint_->setStyleSheet(QStringLiteral("color: gray"));
    secretLabel_ = makeControl<QLabel>(this, "secretLabel", QString());
    secret_ = makeControl<QLineEdit>(this, "secret");
    secret_->setEchoMode(QLineEdit::Password);
    from_ = makeControl<QLineEdit>(this, "from");
    to_ = makeControl<QLineEdit>(this, "to");
    to_->setPlaceholderText(QStringLiteral("多个地址用逗号分开"));
    username_ = makeControl<QLineEdit>(this, "username");
    starttls_ = makeControl<QCheckBox>(this, "starttls", QStringLiteral("STARTTLS加密"));
    cafile_ = makeControl<QLineEdit>(this, "cafile");
    cafile_->setPlaceholderText(QStringLiteral("可选：另外信任的CA证书文件"));
    repeat_ = makeControl<QLineEdit>(this, "repeat");
    repeat_->setPlaceholderText(QStringLiteral("报警未结束时每隔几分钟再发一次，0：不重发"));
    enabled_ = makeControl<QCheckBox>(this, "enabled", QStringLiteral("启用"));
    state_ = makeControl<QLabel>(this, "notifyState", QString());
    state_->setWordWrap(true);

    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("类型："), kind_);
    form->addRow(QStringLiteral("名称："), name_);
    form->addRow(QStringLiteral("地址："), target_);
    form->addRow(QString(), targetHint_);
    form->addRow(secretLabel_, secret_);
    form->addRow(QStringLiteral("发件人："), from_);
    form->addRow(QStringLiteral("收件人："), to_);
    form->addRow(QStringLiteral("用户名："), username_);
    form->addRow(QString(), starttls_);
    form->addRow(QStringLiteral("CA文件："), cafile_);
    form->addRow(QStringLiteral("重复提醒（分钟）："), repeat_);
    form->addRow(QString(), enabled_);

    auto button = [this](const char *name, const QString &text, void (NotifySettings::*slot)()) {
        auto *b = makeControl<QPushButton>(this, name, text);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(button("add", QStringLiteral("新建"), &NotifySettings::newChannel));
    buttons->addWidget(button("save", QStringLiteral("保存"), &NotifySettings::save));
    buttons->addWidget(button("remove", QStringLiteral("删除"), &NotifySettings::removeChannel));
    buttons->addWidget(
        button("enable", QStringLiteral("启用/停用"), &NotifySettings::toggleEnabled));
    test_ = button("test", QStringLiteral("测试发送"), &NotifySettings::testSend);
    buttons->addWidget(test_);
    buttons->addStretch();
    auto *exit = makeControl<QPushButton>(this, "exit", QStringLiteral("退出"));
    connect(exit, &QPushButton::clicked, this, &QWidget::close);
    buttons->addWidget(exit);

    auto *top = new QHBoxLayout;
    top->addWidget(list_, 1);
    top->addLayout(form, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(state_);
    layout->addLayout(buttons);
}

bool NotifySettings::reload() {
    QString error;
    const bool ok = notifychannel::loadAll(*db_, &channels_, &error);
    list_->clear();
    for (const NotifyChannel &c : std::as_const(channels_)) {
        auto *item =
            new QTreeWidgetItem(list_, {c.name, notifychannel::kindText(c.kind), c.target,
                                        c.enabled ? QStringLiteral("是") : QStringLiteral("否")});
        item->setData(0, Qt::UserRole, c.id);
    }
    if (!ok)
        msgBox(this, QStringLiteral("无法读取通知渠道：") + error, MsgButtons::Ok,
               MsgIcon::Critical, kTitle);
    return ok;
}

const NotifyChannel *NotifySettings::chosen() const {
    const QTreeWidgetItem *item = list_->currentItem();
    if (!item || !item->isSelected())
        return nullptr;
    const qint64 id = item->data(0, Qt::UserRole).toLongLong();
    for (const NotifyChannel &c : channels_) {
        if (c.id == id)
            return &c;
    }
    return nullptr;
}

void NotifySettings::selectId(qint64 id) {
    for (int i = 0; i < list_->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = list_->topLevelItem(i);
        if (item->data(0, Qt::UserRole).toLongLong() == id)
            list_->setCurrentItem(item);
    }
}

void NotifySettings::showChannel(const NotifyChannel &channel) {
    editing_ = channel.id;
    kind_->setCurrentIndex(qMax(0, kind_->findData(channel.kind)));
    name_->setText(channel.name);
    target_->setText(channel.target);
    secret_->setText(channel.secret);
    const ChannelOptions options =
        notifychannel::parseOptions(channel.options).value_or(ChannelOptions{});
    from_->setText(options.from);
    to_->setText(options.to.join(QStringLiteral(", ")));
    username_->setText(options.username);
    starttls_->setChecked(options.starttls);
    cafile_->setText(options.cafile);
    repeat_->setText(QString::number(options.repeatMinutes));
    enabled_->setChecked(channel.enabled);
    kindChanged();
}

void NotifySettings::kindChanged() {
    const QString kind = kind_->currentData().toString();
    const bool email = kind == QLatin1String("email");
    targetHint_->setText(targetHint(kind));
    secretLabel_->setText(email ? QStringLiteral("密码：") : QStringLiteral("加签密钥："));
    secret_->setEnabled(kind != QLatin1String("wecom") && kind != QLatin1String("webhook"));
    for (QWidget *w : {static_cast<QWidget *>(from_), static_cast<QWidget *>(to_),
                       static_cast<QWidget *>(username_), static_cast<QWidget *>(starttls_)})
        w->setEnabled(email);
}

void NotifySettings::newChannel() {
    list_->clearSelection();
    NotifyChannel fresh;
    fresh.kind = QStringLiteral("wecom");
    showChannel(fresh);
}

std::optional<NotifyChannel> NotifySettings::typedChannel() {
    NotifyChannel c;
    c.id = editing_;
    c.kind = kind_->currentData().toString();
    c.name = name_->text().trimmed();
    c.target = target_->text().trimmed();
    c.secret = secret_->isEnabled() ? secret_->text() : QString();
    c.enabled = enabled_->isChecked();
    ChannelOptions options;
    options.from = from_->text().trimmed();
    for (const QString &to :
         to_->text().split(QRegularExpression(QStringLiteral("[,;，；]")), Qt::SkipEmptyParts)) {
        if (!to.trimmed().isEmpty())
            options.to << to.trimmed();
    }
    options.username = username_->text().trimmed();
    options.starttls = starttls_->isChecked();
    options.cafile = cafile_->text().trimmed();
    const auto repeat = repeat_->text().trimmed().isEmpty()
                            ? std::optional<qint64>(0)
                            : parseWholeNumber(repeat_->text(), 0, 100000);
    QString problem;
    if (!repeat) {
        problem = QStringLiteral("重发间隔应为0到100000的整数（分钟）");
    } else {
        options.repeatMinutes = int(*repeat);
        c.options = notifychannel::optionsText(c.kind, options);
        problem = notifychannel::check(c);
    }
    if (!problem.isEmpty()) {
        msgBox(this, problem, MsgButtons::Ok, MsgIcon::Warning, kTitle);
        return std::nullopt;
    }
    return c;
}

bool NotifySettings::store(NotifyChannel channel) {
    QString error;
    if (!notifychannel::save(*db_, &channel, &error)) {
        msgBox(this, QStringLiteral("无法保存通知渠道：") + error, MsgButtons::Ok,
               MsgIcon::Critical, kTitle);
        return false;
    }
    reload();
    selectId(channel.id);
    return true;
}

void NotifySettings::save() {
    if (const auto channel = typedChannel(); channel && store(*channel))
        state_->setText(QStringLiteral("已保存") + notifychannel::label(*channel));
}

void NotifySettings::removeChannel() {
    const NotifyChannel *c = chosen();
    if (!c)
        return;
    const NotifyChannel doomed = *c;
    if (!askYesNo(this,
                  QStringLiteral("确定删除通知渠道") + notifychannel::label(doomed) +
                      QStringLiteral("？还在等待发出的消息将不再发送。"),
                  MsgIcon::Question, QStringLiteral("Remove Item")))
        return;
    QString error;
    if (!notifychannel::remove(*db_, doomed.id, &error)) {
        msgBox(this, QStringLiteral("无法删除通知渠道：") + error, MsgButtons::Ok,
               MsgIcon::Critical, kTitle);
        return;
    }
    reload();
    newChannel();
    state_->setText(QStringLiteral("已删除") + notifychannel::label(doomed));
}

void NotifySettings::toggleEnabled() {
    const NotifyChannel *c = chosen();
    if (!c)
        return;
    NotifyChannel changed = *c;
    changed.enabled = !changed.enabled;
    if (store(changed))
        state_->setText(notifychannel::label(changed) +
                        (changed.enabled ? QStringLiteral("已启用") : QStringLiteral("已停用")));
}

void NotifySettings::testSend() {
    const auto channel = typedChannel();
    if (!channel)
        return;
    test_->setEnabled(false);
    state_->setText(QStringLiteral("正在发送测试消息…"));
    Notifier::testSend(*channel, this, [this](bool delivered, const QString &answer) {
        test_->setEnabled(true);
        const QString text = (delivered ? QStringLiteral("测试消息已送达：")
                                        : QStringLiteral("测试消息未能送达：")) +
                             answer;
        state_->setText(text);
        msgBox(this, text, MsgButtons::Ok, delivered ? MsgIcon::Information : MsgIcon::Warning,
               kTitle);
    });
}
