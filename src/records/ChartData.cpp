#include "records/ChartData.h"

#include "records/RecordTable.h"
#include "store/LiteConnection.h"
#include "store/ValueText.h"

#include <cmath>
#include <limits>

namespace {
using Type = LiteStatement::Type;

double numberAt(const LiteStatement &st, int position) {
    switch (st.columnType(position)) {
        case Type::Real:
            return st.real(position);
        case Type::Integer:
            return double(st.integer(position));
        case Type::Text:
            if (const auto v = parseDecimal(st.text(position)))
                return *v;
            [[fallthrough]];
        default:
            return std::numeric_limits<double>::quiet_NaN();
    }
}
}  // namespace

QString ChartData::timeAt(qsizetype k) const {
    if (k < 0 || k >= qsizetype(times.size()))
        return {};
    if (times[k] != recordtime::kOddTime)
        return recordtime::text(times[k]);
    const auto it = oddTimes.find(k);
    return it == oddTimes.end() ? QString() : it->second;
}

qint64 countRows(LiteConnection &conn, const QString &sql, QString *error) {
    // count(*) over the query lets the database skip producing the columns.
    LiteStatement st =
        conn.prepare(QStringLiteral("select count(*) from (") + sql + QStringLiteral(")"));
    if (st.isValid()) {
        if (st.Step() && !st.done())
            return st.integer(0);
    }
    // A text that cannot stand inside a subquery: step through it.
    st = conn.prepare(sql);
    if (!st.isValid()) {
        *error = st.error();
        return -1;
    }
    qint64 n = 0;
    st.Step();
    while (!st.done()) {
        ++n;
        st.Step();
    }
    if (st.failed()) {
        *error = st.error();
        return -1;
    }
    return n;
}

ChartData loadChart(LiteConnection &conn, const QString &sql, double pixelWidth) {
    ChartData data;
    const qint64 count = countRows(conn, sql, &data.error);
    if (count <= 0) {
        data.hum.finish();
        data.temp.finish();
        return data;
    }

    LiteStatement st = conn.prepare(sql);
    if (!st.isValid() || st.columnCount() < 5) {
        data.error = st.isValid() ? QStringLiteral("查询结果少于5列") : st.error();
        data.hum.finish();
        data.temp.finish();
        return data;
    }
    data.times.reserve(size_t(count));
    const double step = pixelWidth / double(count);
    qsizetype k = 0;
    st.Step();
    while (!st.done() && k < count) {
        qint64 packed = recordtime::kOddTime;
        if (st.columnType(2) == Type::Text)
            packed = recordtime::pack(st.utf8(2));
        if (packed == recordtime::kOddTime)
            data.oddTimes.emplace(k, cellText(st.value(2)));
        data.times.push_back(packed);
        const double x = double(k) * step;
        data.temp.add(x, numberAt(st, 3));
        data.hum.add(x, numberAt(st, 4));
        ++k;
        st.Step();
    }
    if (st.failed())
        data.error = st.error();
    data.count = k;
    data.hum.finish();
    data.temp.finish();
    return data;
}
