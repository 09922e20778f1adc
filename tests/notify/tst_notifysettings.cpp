// The window 通知设置: opened from the menu, a channel typed in and stored,
// refused input, switching off and removing a channel (what still waited
// for it is given up), and 测试发送 against a local robot.
#include "notify/NotifyStatements.h"
#include "notify/ui/NotifySettings.h"
#include "support/AppFixture.h"
#include "support/NotifyServers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

class TestNotifySettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        app_ = std::make_unique<AppFixture>();
        app_->menu("notify");
        w_ = app_->find<NotifySettings>("NotifySettings");
        QVERIFY(w_ && w_->isVisible());
    }
    void cleanup() { app_.reset(); }

private:
    void type(const char *kind, const QStringList &fields) {
        auto *box = w_->findChild<QComboBox *>("kind");
        box->setCurrentIndex(box->findData(QString::fromLatin1(kind)));
        const char *names[] = {"name", "target", "secret", "from", "to", "username", "repeat"};
        for (int i = 0; i < fields.size(); ++i)
            w_->findChild<QLineEdit *>(names[i])->setText(fields[i]);
    }
    void click(const char *name) { w_->findChild<QPushButton *>(name)->click(); }
    void choose(int row) {
        auto *list = w_->findChild<QTreeWidget *>("channelList");
        list->setCurrentItem(list->topLevelItem(row));
    }
    QList<QVariantList> rows(const char *sql) { return app_->db().rows(QString::fromUtf8(sql)); }

private Q_SLOTS:
    void storeSwitchRemove() {
        type("email", {"值班邮箱", "smtp://mail.site.example:587", "pw", "daq@site.example",
                       "a@site.example, b@site.example", "daq", "30"});
        w_->findChild<QCheckBox *>("starttls")->setChecked(true);
        click("save");
        click("add");
        type("wecom", {"值班群", "https://qyapi.weixin.qq.com/cgi-bin/webhook/send?key=k"});
        click("save");
        QCOMPARE(app_->boxes.shown.size(), 0);
        QCOMPARE(rows("select kind, name, secret, options, enabled from notifychannel order by id"),
                 (QList<QVariantList>{
                     {"email", "值班邮箱", "pw",
                      R"({"from":"daq@site.example","repeat_minutes":30,"starttls":true,)"
                      R"("to":["a@site.example","b@site.example"],"username":"daq"})",
                      1},
                     {"wecom", "值班群", "", "{}", 1}}));
        // Chosen again, the first one shows as stored; switched off, then removed
        // with what still waited for it.
        choose(0);
        QCOMPARE(w_->findChild<QLineEdit *>("to")->text(), "a@site.example, b@site.example");
        click("enable");
        QCOMPARE(app_->db().scalar("select enabled from notifychannel where id = 1").toInt(), 0);
        app_->db().exec(notify::createTables().join("; ") +
                        "; insert into notifylog (alarm, channel, mydate, state, tries, error) "
                        "values (1, 1, '2026-12-07 05:10:42', '等待', 0, '')");
        choose(0);
        click("remove");
        QCOMPARE(app_->boxes.shown.value(0).title, "Remove Item");
        QCOMPARE(rows("select name from notifychannel"), (QList<QVariantList>{{"值班群"}}));
        QCOMPARE(rows("select state, error from notifylog"),
                 (QList<QVariantList>{{"失败", "渠道已删除"}}));
        QCOMPARE(w_->findChild<QTreeWidget *>("channelList")->topLevelItemCount(), 1);
    }

    void refused_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QStringList>("fields");
        QTest::addColumn<QString>("message");
        QTest::newRow("no name") << "wecom" << QStringList{"", "https://a.example/x"}
                                 << "请输入名称";
        QTest::newRow("mail to a web address")
            << "email" << QStringList{"m", "https://a.example", "", "a@b.example", "c@d.example"}
            << "地址应为 smtp://主机:端口 或 smtps://主机:端口";
        QTest::newRow("bad repeat")
            << "webhook" << QStringList{"w", "http://a.example", "", "", "", "", "x"}
            << "重发间隔应为0到100000的整数（分钟）";
    }

    void refused() {
        QFETCH(QString, kind);
        QFETCH(QStringList, fields);
        type(kind.toLatin1().constData(), fields);
        click("save");
        QTEST(app_->boxes.texts().value(0), "message");
        QCOMPARE(app_->db()
                     .scalar("select count(*) from sqlite_master where name='notifychannel'")
                     .toInt(),
                 0);
    }

    void testSend() {
        NotifyServer robot(NotifyServer::Kind::Http), tls(NotifyServer::Kind::Https);
        QVERIFY2(robot.start() && tls.start(), qPrintable(robot.errorString() + tls.errorString()));
        type("dingtalk", {"钉钉", robot.url("/dingtalk?access_token=t"), "SEC1"});
        click("test");
        QTRY_COMPARE(app_->boxes.texts().value(0), "测试消息已送达：errcode 0（ok）");
        QVERIFY(QString::fromUtf8(robot.requests().value(0).body).contains("测试消息"));
        robot.answer("errcode");
        click("test");
        QTRY_COMPARE(app_->boxes.texts().value(1),
                     "测试消息未能送达：errcode 310000（keywords not in content）");
        // Certificates are verified: a server's own certificate is trusted only
        // with its cafile.
        type("webhook", {"hook", tls.url("/hook")});
        click("test");
        QTRY_VERIFY(
            app_->boxes.texts().value(2).startsWith("测试消息未能送达：SSL certificate problem"));
        w_->findChild<QLineEdit *>("cafile")->setText(tls.caFile());
        click("test");
        QTRY_COMPARE(app_->boxes.texts().value(3), "测试消息已送达：HTTP 200");
        // Nothing was stored.
        QCOMPARE(app_->db()
                     .scalar("select count(*) from sqlite_master where name='notifychannel'")
                     .toInt(),
                 0);
    }

private:
    std::unique_ptr<AppFixture> app_;
    NotifySettings *w_ = nullptr;
};

QTEST_MAIN(TestNotifySettings)
#include "tst_notifysettings.moc"
