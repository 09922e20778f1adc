#pragma once

#include <QString>

// Checks of the texts that the record windows join into statements. Each
// returns an empty text when the text is fine, otherwise the message for the
// operator, naming the box by the label beside it (`box`).
namespace filtertext {

// A module address: a whole number from 0 up.
QString checkAddress(const QString &text, const QString &box);
// A record time in the form YYYY-MM-DD HH:MM:SS (what a deletion reads).
QString checkTime(const QString &text, const QString &box);
// A time text of a filter: any text runs (one in another form, such as a date
// alone, compares as text), except one that cannot stand in a statement: a
// control character (a NUL would cut the statement short) or broken Unicode.
// Quotes are doubled where the text goes in.
QString checkTimeText(const QString &text, const QString &box);
// A decimal bound such as 40.0 or -40; `what` names the bound.
QString checkBound(const QString &text, const QString &what, const QString &box);
// A refresh period in seconds (see periodMilliseconds).
QString checkPeriod(const QString &text, const QString &box);

}  // namespace filtertext
