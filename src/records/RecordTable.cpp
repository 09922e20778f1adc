#include "records/RecordTable.h"

#include "store/ValueText.h"

#include <climits>
#include <cmath>

namespace {
constexpr qint32 kOddAdr = INT32_MIN;
constexpr qint16 kOddTenths = INT16_MIN;

// Bit positions of the fields of a packed time.
constexpr int kSec = 0, kMin = 7, kHour = 14, kDay = 21, kMonth = 28, kYear = 35;

inline int digit(char c) {
    return (c >= '0' && c <= '9') ? c - '0' : -1;
}

// Two digits at p, or -1.
inline int two(const char *p) {
    const int a = digit(p[0]), b = digit(p[1]);
    return (a < 0 || b < 0) ? -1 : a * 10 + b;
}

inline void putTwo(char *p, int v) {
    p[0] = char('0' + v / 10);
    p[1] = char('0' + v % 10);
}

// The 19 characters of a packed time.
void format(qint64 packed, char *out) {
    const int year = int(packed >> kYear);
    putTwo(out, year / 100);
    putTwo(out + 2, year % 100);
    out[4] = '-';
    putTwo(out + 5, int((packed >> kMonth) & 0x7f));
    out[7] = '-';
    putTwo(out + 8, int((packed >> kDay) & 0x7f));
    out[10] = ' ';
    putTwo(out + 11, int((packed >> kHour) & 0x7f));
    out[13] = ':';
    putTwo(out + 14, int((packed >> kMin) & 0x7f));
    out[16] = ':';
    putTwo(out + 17, int((packed >> kSec) & 0x7f));
}
// Tenths as the shortest decimal text: 235 -> 23.5, 250 -> 25, -5 -> -0.5.
void appendTenths(int tenths, QByteArray &out) {
    if (tenths < 0) {
        out.append('-');
        tenths = -tenths;
    }
    out.append(QByteArray::number(tenths / 10));
    if (tenths % 10) {
        out.append('.');
        out.append(char('0' + tenths % 10));
    }
}
}  // namespace

namespace recordtime {

qint64 pack(QByteArrayView t) {
    if (t.size() != 19)
        return kOddTime;
    const char *p = t.data();
    if (p[4] != '-' || p[7] != '-' || p[10] != ' ' || p[13] != ':' || p[16] != ':')
        return kOddTime;
    const int y1 = two(p), y2 = two(p + 2), mo = two(p + 5), d = two(p + 8), h = two(p + 11),
              mi = two(p + 14), s = two(p + 17);
    if ((y1 | y2 | mo | d | h | mi | s) < 0)
        return kOddTime;
    return (qint64(y1 * 100 + y2) << kYear) | (qint64(mo) << kMonth) | (qint64(d) << kDay) |
           (qint64(h) << kHour) | (qint64(mi) << kMin) | (qint64(s) << kSec);
}

QString text(qint64 packed) {
    char buf[19];
    format(packed, buf);
    return QString::fromLatin1(buf, 19);
}

void appendUtf8(qint64 packed, QByteArray &out) {
    char buf[19];
    format(packed, buf);
    out.append(buf, 19);
}

}  // namespace recordtime

void RecordTable::appendRecord(const ScanValue *v) {
    using Type = ScanValue::Type;
    appendRow();
    switch (v[0].type) {
        case Type::Integer:
            setAdr(v[0].integer);
            break;
        case Type::Real:
            setNumber(Adr, v[0].real);
            break;
        case Type::Null:
            break;
        default:
            setText(Adr, cellText(v[0].toVariant()));
            break;
    }
    if (v[1].type == Type::Text)
        setTime(v[1].bytes);
    else if (v[1].type != Type::Null)
        setText(Time, cellText(v[1].toVariant()));
    for (const Column c : {Temp, Hum}) {
        const ScanValue &value = v[c];
        if (value.isNumber())
            setNumber(c, value.real);
        else if (value.type != Type::Null)
            // A text the column could not take as a number (the stored form
            // of a value written by hand, say): shown as it is.
            setText(c, cellText(value.toVariant()));
    }
}

void RecordTable::appendRow() {
    if ((size_ & (kBlockSize - 1)) == 0 && qsizetype(blocks_.size()) == (size_ >> kBlockBits))
        blocks_.push_back(std::make_unique_for_overwrite<Row[]>(kBlockSize));
    ++size_;
    last() = Row{recordtime::kOddTime, kOddAdr, kOddTenths, kOddTenths};
}

void RecordTable::setAdr(qint64 adr) {
    if (adr > INT32_MIN && adr <= INT32_MAX)
        last().adr = qint32(adr);
    else
        setText(Adr, QString::number(adr));
}

void RecordTable::setTime(QByteArrayView utf8) {
    const qint64 packed = recordtime::pack(utf8);
    if (packed != recordtime::kOddTime)
        last().time = packed;
    else
        setText(Time, QString::fromUtf8(utf8));
}

void RecordTable::setNumber(Column column, double value) {
    qint16 tenths = 0;
    if ((column == Temp || column == Hum) && toTenths(value, &tenths)) {
        setTenths(column, tenths);
        return;
    }
    if (column == Adr && value == std::trunc(value) && std::abs(value) < 2e9) {
        setAdr(qint64(value));
        return;
    }
    setText(column, numberText(value));
}

bool RecordTable::toTenths(double value, qint16 *tenths) {
    const double scaled = value * 10.0;
    if (!(scaled > -32767.5 && scaled < 32767.5))
        return false;
    // Any rounding serves: a value halfway between two tenths is none.
    const auto t = qint16(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
    // Only when the tenths give back exactly the stored number.
    if (t == kOddTenths || t / 10.0 != value)
        return false;
    *tenths = t;
    return true;
}

void RecordTable::setText(Column column, const QString &text) {
    odd_[key(size_ - 1, column)] = text;
}

QString RecordTable::cell(qsizetype row, int column) const {
    if (row < 0 || row >= size_)
        return {};
    const Row &r = at(row);
    switch (column) {
        case Adr:
            if (r.adr != kOddAdr)
                return QString::number(r.adr);
            break;
        case Time:
            if (r.time != recordtime::kOddTime)
                return recordtime::text(r.time);
            break;
        case Temp:
        case Hum: {
            const qint16 t = column == Temp ? r.temp : r.hum;
            if (t != kOddTenths) {
                QByteArray text;
                appendTenths(t, text);
                return QString::fromLatin1(text);
            }
            break;
        }
        default:
            return {};
    }
    const auto it = odd_.find(key(row, column));
    return it == odd_.end() ? QString() : it->second;
}

void RecordTable::appendCellUtf8(qsizetype row, int column, QByteArray &out) const {
    if (row < 0 || row >= size_)
        return;
    const Row &r = at(row);
    switch (column) {
        case Adr:
            if (r.adr != kOddAdr)
                return void(out.append(QByteArray::number(r.adr)));
            break;
        case Time:
            if (r.time != recordtime::kOddTime)
                return recordtime::appendUtf8(r.time, out);
            break;
        case Temp:
        case Hum: {
            const qint16 t = column == Temp ? r.temp : r.hum;
            if (t != kOddTenths)
                return appendTenths(t, out);
            break;
        }
        default:
            return;
    }
    out.append(cell(row, column).toUtf8());
}

void RecordTable::clear() {
    blocks_.clear();
    odd_.clear();
    size_ = 0;
}

qsizetype RecordTable::bytesUsed() const {
    qsizetype bytes = qsizetype(blocks_.size()) * kBlockSize * qsizetype(sizeof(Row));
    for (const auto &[k, text] : odd_)
        bytes += qsizetype(sizeof(k) + sizeof(text)) + text.size() * 2 + 32;
    return bytes;
}
