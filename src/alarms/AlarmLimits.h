#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class LiteConnection;

// The alarm limits of one module: a reading below a lower or above an upper
// limit is an alarm. A missing limit is no limit.
struct AlarmLimits {
    std::optional<double> tempLow;   // °C
    std::optional<double> tempHigh;  // °C
    std::optional<double> humLow;    // %RH
    std::optional<double> humHigh;   // %RH

    bool isEmpty() const { return !tempLow && !tempHigh && !humLow && !humHigh; }
    bool operator==(const AlarmLimits &) const = default;
};

// The four limit boxes of the module editor as typed.
struct AlarmLimitTexts {
    QString tempLow;   // 温度下限
    QString tempHigh;  // 温度上限
    QString humLow;    // 湿度下限
    QString humHigh;   // 湿度上限

    bool operator==(const AlarmLimitTexts &) const = default;
};

namespace alarmlimits {

// Reads the boxes: each empty (blanks only: no limit) or a decimal number,
// and a lower limit below its upper one. Returns an empty text with the
// limits in *out, or the message for the operator, naming the box.
QString parse(const AlarmLimitTexts &texts, AlarmLimits *out);
// The limits as the boxes show them (shortest decimal text, empty for none).
AlarmLimitTexts texts(const AlarmLimits &limits);

// Every row of table alarmlimit, by the address text (trimmed). A file
// without the table has no limits. False, with the reason, when the table
// could not be read. A cell that holds no number is no limit.
bool loadAll(LiteConnection &db, QHash<QString, AlarmLimits> *out, QString *error = nullptr);

// The statements that store the limits of the module at `address` (trimmed
// address text): the table created if need be and the row written; without
// limits the row removed, or nothing at all when the file has no table.
QStringList saveStatements(LiteConnection &db, const QString &address, const AlarmLimits &limits);
// The statements that remove the limits of a module that is deleted
// (nothing when the file has no table).
QStringList removeStatements(LiteConnection &db, const QString &address);

}  // namespace alarmlimits
