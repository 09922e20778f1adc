#include "records/RecordLoader.h"

#include "store/LiteConnection.h"
#include "store/ValueText.h"

#include <optional>

namespace {

using Type = LiteStatement::Type;

void readAdr(const LiteStatement &st, RecordTable &table) {
    switch (st.columnType(1)) {
        case Type::Integer:
            table.setAdr(st.integer(1));
            break;
        case Type::Null:
            break;
        case Type::Real:
            table.setNumber(RecordTable::Adr, st.real(1));
            break;
        default:
            table.setText(RecordTable::Adr, cellText(st.value(1)));
            break;
    }
}

void readTime(const LiteStatement &st, RecordTable &table) {
    switch (st.columnType(2)) {
        case Type::Text:
            table.setTime(st.utf8(2));
            break;
        case Type::Null:
            break;
        default:
            table.setText(RecordTable::Time, cellText(st.value(2)));
            break;
    }
}

// Temperature or humidity: the cell, and the figure when it is a number.
void readFigure(const LiteStatement &st, int position, RecordTable::Column column,
                RecordTable &table, FigureStats &stats) {
    std::optional<double> number;
    switch (st.columnType(position)) {
        case Type::Real:
            number = st.real(position);
            break;
        case Type::Integer:
            number = double(st.integer(position));
            break;
        case Type::Null:
            return;
        default: {
            // A text the column could not take as a number (the stored form of
            // a value written by hand, say): shown as it is, counted if it reads
            // as a number after all.
            const QString text = cellText(st.value(position));
            table.setText(column, text);
            if (const auto v = parseDecimal(text))
                stats.add(*v);
            return;
        }
    }
    qint16 tenths = 0;
    if (RecordTable::toTenths(*number, &tenths)) {
        table.setTenths(column, tenths);
        stats.addTenths(tenths);
    } else {
        table.setText(column, numberText(*number));
        stats.add(*number);
    }
}

}  // namespace

RecordLoad loadRecords(LiteConnection &conn, const QString &sql) {
    RecordLoad load;
    LiteStatement st = conn.prepare(sql);
    if (!st.isValid()) {
        load.error = st.error();
        return load;
    }
    if (st.columnCount() < 5) {
        load.error = QStringLiteral("查询结果少于5列");
        return load;
    }
    st.Step();
    while (!st.done()) {
        load.table.appendRow();
        readAdr(st, load.table);
        readTime(st, load.table);
        readFigure(st, 3, RecordTable::Temp, load.table, load.stats.temp);
        readFigure(st, 4, RecordTable::Hum, load.table, load.stats.hum);
        ++load.stats.count;
        st.Step();
    }
    if (st.failed()) {
        load.error = st.error();
        load.table.clear();
        load.stats = {};
    }
    return load;
}
