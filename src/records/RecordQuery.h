#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// The ten conditions of the record list, in the order of their check boxes
// (Check1 to Check10): the module, the period, and two comparisons for each
// bound. The two comparisons of a bound write the same fragment.
enum class RecordCondition {
    Module,       // adr = address
    Period,       // from <= time <= to
    TempBelow,    // temp < upper bound
    TempAtLeast,  // temp >= lower bound
    TempAtMost,   // temp <= upper bound
    TempAbove,    // temp > lower bound
    HumAtMost,    // hum <= upper bound
    HumBelow,     // hum < upper bound
    HumAbove,     // hum > lower bound
    HumAtLeast,   // hum >= lower bound
};
inline constexpr int kRecordConditions = 10;

// The filters of the record list. Each of the ten conditions writes one of
// six fragments when its box is clicked, from the text box as it stands at
// that moment; the statement is the base text followed by the six fragments in
// a fixed order. A text that is not what its box needs (a letter in a bound, a
// control character in a time) is refused at the click: the fragment keeps
// what it had and the caller gets a message that names the box. A time in
// another form than the records' runs and compares as text.
class RecordQuery {
public:
    // The texts of the boxes that the conditions read.
    struct Texts {
        QString address;   // Text1
        QString from;      // Text2
        QString to;        // Text3
        QString tempHigh;  // Text4
        QString tempLow;   // Text5
        QString humHigh;   // Text6
        QString humLow;    // Text7
    };

    enum Fragment { Adr, Time, TempHigh, TempLow, HumHigh, HumLow, FragmentCount };

    // A click that left the box of `condition` ticked or cleared. Returns an
    // empty text when the fragment was set or emptied, otherwise the message
    // for the operator (the fragment is then unchanged).
    QString click(RecordCondition condition, bool ticked, const Texts &texts);

    // Sets the time fragment directly (the quick filters); both texts must be
    // record times.
    void setPeriod(const QString &from, const QString &to);

    void clear();
    const QString &fragment(Fragment f) const { return fragments_[f]; }
    // select * from th where id<>0 + the six fragments in order.
    QString statement() const;

    // The fragment a condition writes.
    static Fragment fragmentOf(RecordCondition condition);

private:
    QString fragments_[FragmentCount];
};

class LiteConnection;

// Why `statement` cannot run as a record query on `db` (it does not compile,
// or gives fewer than the five columns of th); empty when it can.
QString recordQueryProblem(LiteConnection &db, const QString &statement);

// The quick period filters: today, this week (Monday to Sunday) and this month,
// in the time of the records (UTC + 8 hours), whatever the machine's zone.
enum class QuickPeriod { Today, ThisWeek, ThisMonth };
struct PeriodTexts {
    QString from;
    QString to;
};
PeriodTexts quickPeriod(QuickPeriod period, const QDateTime &now);

// The record time (UTC + 8 hours) of an instant, as the database writes it.
QDateTime recordClockTime(const QDateTime &now);

// A refresh period typed in seconds (decimals allowed) as whole milliseconds,
// rounded half to even: "60" -> 60000, "0.5" -> 500. Nothing for a text that is
// not a number or gives less than 1 ms or more than a timer can hold.
std::optional<int> periodMilliseconds(const QString &seconds);
