#pragma once

#include "records/RecordQuery.h"

#include <QWidget>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QTimer;
class RecordModel;
struct RecordStats;

// The window "AnaQx7" (提取温湿度采集记录): the record list with its filters and summary figures.
class AnaQx7 : public QWidget {
    Q_OBJECT
public:
    explicit AnaQx7(QWidget *parent = nullptr);

    // Runs the query of the current filters, refills the list, the first and
    // last time and the statistics. False (with the list as it was) when the
    // query failed; the reason is shown in a box, or on a timer tick in the
    // window's status line.
    bool LoadGrid1(bool fromTimer = false);

    // Writes the listed records to a CSV file; empty on success, otherwise
    // what failed.
    QString exportCsv(const QString &path) const;

    const RecordQuery &query() const { return query_; }
    RecordModel *model() const { return model_; }
    QTimer *timer() const { return Timer1; }

private:
    void conditionClicked(int number, bool ticked);
    void quickClicked(QCheckBox *box, QuickPeriod period, bool ticked);
    void Check11_Click(bool ticked);
    void Command3_Click();
    void Command4_Click();
    void showStatistics(const RecordStats &stats);
    RecordQuery::Texts texts() const;

    RecordQuery query_;
    RecordModel *model_ = nullptr;

    QCheckBox *Check[15] = {};  // Check1 .. Check14
    QLineEdit *Text1, *Text2, *Text3, *Text4, *Text5, *Text6, *Text7, *Text8;
    QLabel *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8;
    QLabel *statusLine;
    QGroupBox *Frame3;
    QPushButton *Command1, *Command2, *Command3, *Command4;
    QTableView *ListView1;
    QTimer *Timer1;
};
