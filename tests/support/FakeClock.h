#pragma once

#include "store/Clock.h"

#include <QTimeZone>

// A clock that stands still until the test moves it: both clocks go on by
// the same amount.
class FakeClock : public Clock {
public:
    explicit FakeClock(QDateTime start = QDateTime(QDate(2024, 3, 5), QTime(10, 0),
                                                   QTimeZone::utc()))
        : wall_(std::move(start)) {}
    QDateTime now() const override { return wall_; }
    qint64 steadyMs() const override { return steady_; }
    void advance(qint64 ms) {
        wall_ = wall_.addMSecs(ms);
        steady_ += ms;
    }
    void setNow(const QDateTime &wall) { wall_ = wall; }

private:
    QDateTime wall_;
    qint64 steady_ = 1'000'000;
};
