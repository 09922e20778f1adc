#include "records/ChartData.h"

#include "records/BackgroundPass.h"
#include "store/ValueText.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
using Type = ScanValue::Type;

// Second looks at buckets in one read: short enough that a writer waits no
// longer than for a slice of the first pass.
constexpr int kRereadsPerRead = 128;

// A value as the chart draws it: a number, or NaN (a break in the curve) for
// a null, a text that is no number or bytes.
double numberOf(const ScanValue &value) {
    if (value.isNumber())
        return value.real;
    if (value.type == Type::Text) {
        if (const auto v = parseDecimal(QString::fromUtf8(value.bytes)))
            return *v;
    }
    return std::numeric_limits<double>::quiet_NaN();
}

// Every row of a stretch read again: both curves' values in order.
class Reread : public RowSink {
public:
    void row(qint64, const ScanValue *values) override {
        temp.push_back(numberOf(values[0]));
        hum.push_back(numberOf(values[1]));
    }
    void restart() override {
        temp.clear();
        hum.clear();
    }
    std::vector<double> temp, hum;
};
}  // namespace

void ChartPass::Summary::add(qint64 k, double v) {
    // The decimator breaks the curve at anything that is not a finite number.
    const bool number = std::isfinite(v);
    switch (state) {
        case Empty:
            state = number ? Numbers : Breaks;
            first = low = high = last = {k, v};
            break;
        case Numbers:
            if (!number) {
                state = Mixed;
                break;
            }
            // Strictly lower or higher: the first of equal extremes stays, as
            // in the decimator.
            if (v < low.v)
                low = {k, v};
            if (v > high.v)
                high = {k, v};
            last = {k, v};
            break;
        case Breaks:
            if (number)
                state = Mixed;
            break;
        case Mixed:
            break;
    }
}

void ChartPass::Summary::merge(const Summary &later) {
    if (later.state == Empty)
        return;
    if (state == Empty) {
        *this = later;
        return;
    }
    if (state == Numbers && later.state == Numbers) {
        if (later.low.v < low.v)
            low = later.low;
        if (later.high.v > high.v)
            high = later.high;
        last = later.last;
        return;
    }
    if (!(state == Breaks && later.state == Breaks))
        state = Mixed;
}

ChartPass::ChartPass(double pixelWidth, qsizetype maxBuckets) : width_(pixelWidth) {
    if (maxBuckets <= 0)
        maxBuckets =
            std::max<qsizetype>(1024, 64 * qsizetype(std::ceil(std::max(1.0, pixelWidth))));
    maxBuckets_ = std::max<qsizetype>(2, maxBuckets & ~qsizetype(1));
    buckets_.reserve(size_t(maxBuckets_));
}

void ChartPass::restart() {
    buckets_.clear();
    bucketRows_ = 1;
    inBucket_ = 0;
    count_ = 0;
}

void ChartPass::compact() {
    // Pairs become one: every bucket twice as long, half as many.
    const size_t half = buckets_.size() / 2;
    for (size_t i = 0; i < half; ++i) {
        Bucket merged = buckets_[2 * i];
        merged.temp.merge(buckets_[2 * i + 1].temp);
        merged.hum.merge(buckets_[2 * i + 1].hum);
        buckets_[i] = merged;
    }
    buckets_.resize(half);
    bucketRows_ *= 2;
    inBucket_ = bucketRows_;  // the last bucket is full: the next row starts one
}

void ChartPass::row(qint64 id, const ScanValue *values) {
    const qint64 k = count_;
    if (inBucket_ == bucketRows_ || buckets_.empty()) {
        if (qsizetype(buckets_.size()) == maxBuckets_)
            compact();
        buckets_.push_back({id, {}, {}});
        inBucket_ = 0;
    }
    ++inBucket_;
    Bucket &b = buckets_.back();
    b.temp.add(k, numberOf(values[0]));
    b.hum.add(k, numberOf(values[1]));
    ++count_;
}

namespace {
// A bucket's points of one curve into its decimator, in record order, each
// record once.
void feed(chart::Decimator &d, const ChartPass::Summary &s, double step) {
    if (s.state == ChartPass::Summary::Breaks) {
        d.add(0, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    ChartPass::Point points[4] = {s.first, s.low, s.high, s.last};
    std::sort(points, points + 4, [](const auto &a, const auto &b) { return a.k < b.k; });
    qint64 fed = -1;
    for (const auto &p : points) {
        if (p.k == fed)
            continue;
        d.add(double(p.k) * step, p.v);
        fed = p.k;
    }
}
}  // namespace

ChartData ChartPass::finish(RowScan &scan, PassControl &control) {
    ChartData data;
    data.count = count_;
    data.lastId = scan.lastId();
    data.bucketRows = bucketRows_;
    if (count_ > 0) {
        // The same step and x as when every record was fed in one go.
        const double step = width_ / double(count_);
        auto column = [step](qint64 k) { return std::floor(double(k) * step); };
        Reread again;
        // The second looks share a read, a group of them at a time, so that
        // each costs no more than its rows.
        int inRead = 0;
        for (size_t j = 0; j < buckets_.size(); ++j) {
            if (control.cancelled())
                break;
            const Bucket &b = buckets_[j];
            const qint64 first = qint64(j) * bucketRows_;
            const qint64 last = std::min<qint64>(first + bucketRows_, count_) - 1;
            using S = Summary;
            const bool mixed = b.temp.state == S::Mixed || b.hum.state == S::Mixed;
            const bool numbers = b.temp.state == S::Numbers || b.hum.state == S::Numbers;
            if (mixed || (numbers && column(first) != column(last))) {
                again.restart();
                if (inRead++ == 0)
                    scan.beginRead();
                const qint64 lastId =
                    j + 1 < buckets_.size() ? buckets_[j + 1].startId - 1 : scan.lastId();
                const bool read = scan.runRange(again, b.startId, lastId);
                if (inRead == kRereadsPerRead) {
                    scan.endRead();
                    inRead = 0;
                }
                // Rows deleted or added meanwhile leave the summary to stand in.
                if (read && qint64(again.temp.size()) == last - first + 1) {
                    for (qint64 k = first; k <= last; ++k) {
                        data.temp.add(double(k) * step, again.temp[size_t(k - first)]);
                        data.hum.add(double(k) * step, again.hum[size_t(k - first)]);
                    }
                    continue;
                }
            }
            feed(data.temp, b.temp, step);
            feed(data.hum, b.hum, step);
        }
        if (inRead > 0)
            scan.endRead();
    }
    data.temp.finish();
    data.hum.finish();
    data.bucketStarts.reserve(buckets_.size());
    for (const Bucket &b : buckets_) data.bucketStarts.push_back(b.startId);
    return data;
}

ChartData loadChart(const QString &databasePath, const QString &statement, double pixelWidth,
                    PassControl &control, qint64 sliceIds, qsizetype maxBuckets) {
    RowScan scan(databasePath, statement, QStringLiteral("th"), ChartPass::positions(), sliceIds);
    scan.setCancelled([&control] { return control.cancelled(); });
    ChartPass pass(pixelWidth, maxBuckets);
    ChartData data;
    if (scan.open() && scan.run(pass, [&control](int permille) { control.setProgress(permille); }))
        data = pass.finish(scan, control);
    else
        data.error = control.cancelled() ? QString() : scan.error();
    data.statement = statement;
    data.hum.finish();
    data.temp.finish();
    return data;
}

namespace {
// Row `offset` of a bucket: its time.
class TimeAt : public RowSink {
public:
    explicit TimeAt(qint64 offset) : offset_(offset) {}
    void row(qint64, const ScanValue *values) override {
        if (seen_++ == offset_)
            time = cellText(values[0].toVariant());
    }
    void restart() override {
        seen_ = 0;
        time.clear();
    }
    QString time;

private:
    qint64 offset_;
    qint64 seen_ = 0;
};
}  // namespace

QString ChartTimes::at(const ChartData &data, qsizetype k) {
    if (k < 0 || k >= data.count || data.bucketRows <= 0)
        return {};
    const size_t bucket = size_t(k / data.bucketRows);
    if (bucket >= data.bucketStarts.size())
        return {};
    if (!scan_ || statement_ != data.statement) {
        statement_ = data.statement;
        scan_ =
            std::make_unique<RowScan>(path_, statement_, QStringLiteral("th"), std::vector<int>{2});
        scan_->setWaitLimit(100);
        if (!scan_->open())
            return {};
    }
    const qint64 last =
        bucket + 1 < data.bucketStarts.size() ? data.bucketStarts[bucket + 1] - 1 : data.lastId;
    TimeAt reading(k % data.bucketRows);
    scan_->runRange(reading, data.bucketStarts[bucket], last);
    return reading.time;
}
