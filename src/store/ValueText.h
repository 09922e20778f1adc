#pragma once

#include <QDateTime>
#include <QString>
#include <QVariant>

#include <optional>

// How stored and measured values become the texts of boxes, labels and list
// cells, and how the texts typed into boxes become values.

// Shortest decimal text with a point, up to 15 significant digits: 25.3, 25,
// 0.5, -10. Never an exponent for the values this program meets.
QString numberText(double value);

// A database value as the text of a cell: null gives the empty text, numbers
// their numberText, texts themselves.
QString cellText(const QVariant &value);

// A whole number in [min, max], blanks around it allowed. Nothing else (no
// decimals, no letters, no empty text).
std::optional<qint64> parseWholeNumber(const QString &text, qint64 min, qint64 max);

// A decimal number such as 40.0, -40, .5 (blanks around it allowed; no
// exponent, no thousands separators).
std::optional<double> parseDecimal(const QString &text);

// A decimal number rounded to a whole one, halves to the even neighbour
// ("600.4" -> 600, "2.5" -> 2), when the result lies in [min, max].
std::optional<qint64> parseRounded(const QString &text, qint64 min, qint64 max);

// True for a real date and time written YYYY-MM-DD HH:MM:SS, the form of the
// record times.
bool isRecordTime(const QString &text);

// An instant as the database writes record times: UTC plus 8 hours, in the
// form YYYY-MM-DD HH:MM:SS, whatever the machine's time zone.
QString recordTimeText(const QDateTime &instant);
