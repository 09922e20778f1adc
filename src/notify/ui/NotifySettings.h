#pragma once

#include "notify/NotifyChannel.h"

#include <QWidget>

#include <optional>

class LiteConnection;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// The window "NotifySettings" (通知设置): the channels that alarm messages go
// to (table notifychannel). The list shows them; a click shows one in the
// boxes beside it, where it is edited and 保存 stores it (新建 starts a new
// one); 删除 removes it after a question; 启用/停用 switches it. 测试发送
// sends one test message through the channel as typed (saved or not) and
// says the service's answer. The running notifier reads the channels afresh
// every second, so nothing needs restarting.
class NotifySettings : public QWidget {
    Q_OBJECT
public:
    explicit NotifySettings(LiteConnection *db, QWidget *parent = nullptr);

    // Lists the channels again. False (with a box) when they cannot be read.
    bool reload();
    // The operator's clicks.
    void newChannel();     // 新建
    void save();           // 保存
    void removeChannel();  // 删除
    void toggleEnabled();  // 启用/停用
    void testSend();       // 测试发送

    // The channel as typed, or nothing with a box that says what is wrong.
    std::optional<NotifyChannel> typedChannel();
    // How long 测试发送 waits for the service (tests shorten it).

private:
    void buildControls();
    void showChannel(const NotifyChannel &channel);
    void kindChanged();
    void selectId(qint64 id);
    // The stored channel chosen in the list, or none.
    const NotifyChannel *chosen() const;
    bool store(NotifyChannel channel);

    LiteConnection *db_;
    QList<NotifyChannel> channels_;
    qint64 editing_ = 0;  // the id of the channel in the boxes; 0: a new one
    QTreeWidget *list_ = nullptr;
    QComboBox *kind_ = nullptr;
    QLineEdit *name_ = nullptr;
    QLineEdit *target_ = nullptr;
    QLabel *targetHint_ = nullptr;
    QLabel *secretLabel_ = nullptr;
    QLineEdit *secret_ = nullptr;
    QLineEdit *from_ = nullptr;
    QLineEdit *to_ = nullptr;
    QLineEdit *username_ = nullptr;
    QCheckBox *starttls_ = nullptr;
    QLineEdit *cafile_ = nullptr;
    QLineEdit *repeat_ = nullptr;
    QCheckBox *enabled_ = nullptr;
    QLabel *state_ = nullptr;
    QPushButton *test_ = nullptr;
};
