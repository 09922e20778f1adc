#include "acquisition/RecordStore.h"

#include "store/LiteConnection.h"
#include "store/Statements.h"

bool storeRecords(LiteConnection &db, const QList<DueRecord> &records, QString *error) {
    if (records.isEmpty())
        return true;
    auto fail = [&] {
        if (error)
            *error = db.lastError();
        return false;
    };
    LiteTransaction tx(db);
    if (!tx.isActive())
        return fail();
    for (const DueRecord &r : records) {
        if (!db.Execute(sql::insertRecord(r.address, r.temperature, r.humidity)))
            return fail();
    }
    if (!tx.commit())
        return fail();
    return true;
}
