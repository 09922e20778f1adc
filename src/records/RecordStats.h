#pragma once

#include <QString>
#include <QStringList>

#include <limits>

struct ScanValue;

// Summary figures of one quantity over the listed records: highest, lowest
// and the arithmetic mean. Values that are kept in tenths are summed exactly
// as whole numbers, so the mean does not depend on the order of the records.
class FigureStats {
public:
    void addTenths(qint64 tenths) {
        ++count_;
        sumTenths_ += tenths;
        note(double(tenths) / 10.0);
    }
    void add(double value) {
        ++count_;
        sumOther_ += value;
        note(value);
    }
    // A value as the database holds it: a finite number as it is (whole
    // tenths summed exactly), a text when it reads as a number, nothing
    // otherwise.
    void add(const ScanValue &value);

    qint64 count() const { return count_; }
    double highest() const { return high_; }
    double lowest() const { return low_; }
    double mean() const;

private:
    void note(double v) {
        if (v >= high_)
            high_ = v;
        if (v <= low_)
            low_ = v;
    }
    qint64 count_ = 0;
    qint64 sumTenths_ = 0;
    double sumOther_ = 0;
    double high_ = -std::numeric_limits<double>::infinity();
    double low_ = std::numeric_limits<double>::infinity();
};

struct RecordStats {
    qint64 count = 0;  // listed records
    FigureStats temp;
    FigureStats hum;
};

// A number written with a pattern of "#", "0" and one ".": one digit after the
// point per placeholder, rounded half away from zero; "#" prints a digit only
// where it is significant, "0" always. Digits before the point are never cut.
// formatPattern(23.46, "###.#") = "23.5", 0.46 -> ".5", 25.0 -> "25.".
QString formatPattern(double value, const QString &pattern);

// The captions of the seven statistics labels, in the order Label3, Label2,
// Label4, Label5, Label6, Label7, Label8.
QStringList statisticsCaptions(const RecordStats &stats);
