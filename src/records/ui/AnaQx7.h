#pragma once

#include "records/RecordQuery.h"
#include "store/Clock.h"

#include <QWidget>

#include <memory>

class BackgroundPass;
class LiteConnection;
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

// The window "AnaQx7" (提取温湿度采集记录): the record list with its filters and
// summary figures. Each refresh leaves its statement in `query` (the text the
// chart draws from, thsql).
class AnaQx7 : public QWidget {
    Q_OBJECT
public:
    // `clock` gives the quick periods (今日, 本周, 本月) their day.
    AnaQx7(LiteConnection *db, QString *query, const Clock &clock, QWidget *parent = nullptr);

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
    RecordListView *listView() const { return recordList_; }
    BackgroundPass *pass() const { return pass_; }
    bool isBusy() const;
    QTimer *timer() const { return refreshTimer_; }

Q_SIGNALS:
    // 曲线: the operator wants the chart of the listed records.
    void chartRequested();

private:
    struct ListJob;
    struct CsvJob;
    void takeGrowth();
    void listPassEnded(ListJob &job, bool completed, bool fromTimer);
    void exportEnded(const CsvJob &job, bool completed);
    void reportFailure(const QString &error, bool fromTimer);
    void showBareStatistics();
    void buildControls();
    void conditionClicked(RecordCondition condition, bool ticked);
    void quickClicked(int which, bool ticked);
    void setAutoRefresh(bool ticked);
    void chooseExportFile();
    void showStatistics(const RecordStats &stats);
    RecordQuery::Texts texts() const;

    LiteConnection *db_;
    QString *lastQuery_;
    const Clock &clock_;
    RecordQuery query_;
    RecordModel *model_ = nullptr;
    BackgroundPass *pass_ = nullptr;
    std::shared_ptr<ListJob> listJob_;  // the list pass under way
    bool following_ = false;            // the list shows its rows as they are counted
    bool superseding_ = false;          // a refresh is replacing the running pass
    int generation_ = 0;                // of the pass's growth taken so far

    QCheckBox *conditionBoxes_[kRecordConditions] = {};  // Check1 .. Check10
    QCheckBox *autoRefreshBox_ = nullptr;                // Check11
    QCheckBox *quickBoxes_[3] = {};          // Check12 .. Check14: today, this week, this month
    QLineEdit *addressBox_ = nullptr;        // Text1
    QLineEdit *fromBox_ = nullptr;           // Text2
    QLineEdit *toBox_ = nullptr;             // Text3
    QLineEdit *boundBoxes_[4] = {};          // Text4 .. Text7: temperature and humidity bounds
    QLineEdit *refreshPeriodBox_ = nullptr;  // Text8
    // Label3 (the count), then Label2 and Label4 to Label8 (the six figures).
    QLabel *figureLabels_[7] = {};
    QLabel *statusLine_ = nullptr;
    QProgressBar *progress_ = nullptr;
    QPushButton *cancelButton_ = nullptr;
    QPushButton *exportButton_ = nullptr;   // Command4
    RecordListView *recordList_ = nullptr;  // ListView1
    QTimer *refreshTimer_ = nullptr;        // Timer1
};
