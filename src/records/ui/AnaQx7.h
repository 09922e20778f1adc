#pragma once

#include "records/RecordQuery.h"

#include <QWidget>

#include <memory>

class BackgroundPass;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;
class RecordListView;
class RecordModel;
struct RecordStats;

// The window "AnaQx7" (提取温湿度采集记录): the record list with its filters and summary figures.
class AnaQx7 : public QWidget {
    Q_OBJECT
public:
    explicit AnaQx7(QWidget *parent = nullptr);

    // Builds the query of the current filters and starts the pass that lists
    // its records and sums up their statistics; the list fills while the pass
    // runs (unless it shows this very query already, which it then keeps until
    // the pass ends), the first and last time and the statistics come at its
    // end. A Timer1 tick that finds the last refresh still running is dropped;
    // any other refresh replaces a running pass. False (nothing changes) when
    // the query cannot run; the reason is shown in a box, or on a timer tick
    // in the window's status line.
    bool LoadGrid1(bool fromTimer = false);

    // Writes the listed records to a CSV file in the background; a box tells
    // the outcome. False when another pass is running.
    bool exportCsv(const QString &path);

    const RecordQuery &query() const { return query_; }
    RecordModel *model() const { return model_; }
    RecordListView *listView() const { return ListView1; }
    BackgroundPass *pass() const { return pass_; }
    bool isBusy() const;
    QTimer *timer() const { return Timer1; }

private:
    struct ListJob;
    struct CsvJob;
    void takeGrowth();
    void listPassEnded(ListJob &job, bool completed, bool fromTimer);
    void exportEnded(const CsvJob &job, bool completed);
    void reportFailure(const QString &error, bool fromTimer);
    void showBareStatistics();
    void conditionClicked(int number, bool ticked);
    void quickClicked(QCheckBox *box, QuickPeriod period, bool ticked);
    void Check11_Click(bool ticked);
    void Command3_Click();
    void Command4_Click();
    void showStatistics(const RecordStats &stats);
    RecordQuery::Texts texts() const;

    RecordQuery query_;
    RecordModel *model_ = nullptr;
    BackgroundPass *pass_ = nullptr;
    std::shared_ptr<ListJob> listJob_;  // the list pass under way
    bool following_ = false;            // the list shows its rows as they are counted
    bool superseding_ = false;          // a refresh is replacing the running pass
    int generation_ = 0;                // of the pass's growth taken so far

    QCheckBox *Check[15] = {};  // Check1 .. Check14
    QLineEdit *Text1, *Text2, *Text3, *Text4, *Text5, *Text6, *Text7, *Text8;
    QLabel *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8;
    QLabel *statusLine;
    QProgressBar *progress_;
    QPushButton *cancelButton_;
    QGroupBox *Frame3;
    QPushButton *Command1, *Command2, *Command3, *Command4;
    RecordListView *ListView1;
    QTimer *Timer1;
};
