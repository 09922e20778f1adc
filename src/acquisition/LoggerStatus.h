#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What a running logger tells the desktop program on the same machine,
// about once a second: its live readings and alarms. The desktop program
// shows them instead of acquiring itself (the logger holds the port).
struct LoggerModule {
    QString address;  // the list's address text
    QString model;
    QString enabled;
    QString temperature;  // as the acquisition shows it ("" before the first reading)
    QString humidity;
    QString recordPeriod;
    QString alarmFlag;  // 报警: 是 or 否
    bool alarmed = false;

    bool operator==(const LoggerModule &) const = default;
};

struct LoggerStatus {
    qint64 pid = 0;
    bool acquiring = false;
    QString runTime;    // "1小时5分3秒"
    QString counters;   // "成功采集次数：N 失败次数：M"
    QString alarms;     // "正在报警：…", or empty
    QStringList notes;  // the port, the database, …
    QList<LoggerModule> modules;

    QByteArray toJson() const;
    static std::optional<LoggerStatus> fromJson(const QByteArray &line);
    bool operator==(const LoggerStatus &) const = default;
};
