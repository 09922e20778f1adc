#include <QTest>
class TestRecordsWindows : public QObject {
    Q_OBJECT
};
QTEST_MAIN(TestRecordsWindows)
#include "tst_records_windows.moc"
