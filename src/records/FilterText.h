#pragma once

#include <QString>

// Checks of the texts that the record windows join into statements. Each
// returns an empty text when the text is fine, otherwise the message for the
// operator, naming the box by the label beside it (`box`).
namespace filtertext {

// A module address: a whole number from 0 up.
QString checkAddress(const QString &text, const QString &box);
// A record time in the form YYYY-MM-DD HH:MM:SS.
QString checkTime(const QString &text, const QString &box);
// A decimal bound such as 40.0 or -40; `what` names the bound.
QString checkBound(const QString &text, const QString &what, const QString &box);
// A refresh period in seconds (see periodMilliseconds).
QString checkPeriod(const QString &text, const QString &box);

}  // namespace filtertext
