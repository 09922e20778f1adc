#pragma once

#include "records/ChartData.h"

#include <QImage>
#include <QWidget>

#include <memory>
#include <optional>

class BackgroundPass;
class LiteConnection;
class QCheckBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

// The plot area Picture1: shows the drawn chart and tells where the pointer
// is, in plot units (0 at the left edge, 2000 at the right).
class PlotArea : public QWidget {
    Q_OBJECT
public:
    explicit PlotArea(QWidget *parent = nullptr);
    void setImage(const QImage &image);
    const QImage &image() const { return image_; }
    QSize sizeHint() const override { return {800, 420}; }
    // A child kept in the upper right corner, over the plot.
    void setCornerWidget(QWidget *widget);

Q_SIGNALS:
    void pointerMoved(double x);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void placeCorner();

    QImage image_;
    QWidget *corner_ = nullptr;
};

// The window "graph" (温湿度图形曲线): temperature and humidity curves of the
// last record query, the text that `query` holds at each redraw (thsql).
class GraphWindow : public QWidget {
    Q_OBJECT
public:
    GraphWindow(LiteConnection *db, const QString *query, QWidget *parent = nullptr);

    // Starts a redraw: the pass that reads the records of the last query
    // (Drawth) runs in the background, and the plot shows grid, scale and
    // curves when it ends. A redraw replaces one still running; a plot not
    // drawn yet shows its grid at once.
    void Drawxy();
    // Timer1: a redraw, unless the last one is still running.
    void redrawOnTimer();
    // The readout (Label4) for the pointer at plot x `x`. It changes only
    // when the pointer moves, not when the chart is redrawn.
    void pointerMoved(double x);

    qsizetype plotCount() const { return data_.count; }
    const ChartData &data() const { return data_; }
    // Short notes shown on the plot by the last redraw (no record, a range
    // that cannot be drawn, a failed query).
    const QStringList &notes() const { return notes_; }
    PlotArea *picture() const { return plot_; }
    QTimer *timer() const { return redrawTimer_; }
    BackgroundPass *pass() const { return pass_; }
    bool isBusy() const;

private:
    struct ChartJob;
    void Drawth(const std::shared_ptr<ChartJob> &job);
    void chartEnded(ChartJob &job, bool completed);
    // Shows grid and scale of `job` with `note` (or without any when
    // `gridOnly`), and no curve.
    void showEmpty(const ChartJob &job, const QString &note, bool gridOnly = false);
    void showPlot(QImage image, QStringList notes);
    void setAutoRedraw(bool ticked);

    LiteConnection *db_;
    const QString *query_;
    ChartData data_;
    ChartTimes times_;
    QStringList notes_;
    BackgroundPass *pass_;
    bool superseding_ = false;
    // The record whose time Label4 shows (-1: none, at the edge); nothing
    // after a redraw, so that the next move reads the new records.
    std::optional<qsizetype> readoutIndex_;

    QLineEdit *humLowBox_ = nullptr;        // Text1
    QLineEdit *humHighBox_ = nullptr;       // Text2
    QLineEdit *tempLowBox_ = nullptr;       // Text3
    QLineEdit *tempHighBox_ = nullptr;      // Text4
    QLineEdit *redrawPeriodBox_ = nullptr;  // Text5
    QLabel *readout_ = nullptr;             // Label4
    QCheckBox *autoRedrawBox_ = nullptr;    // Check1
    QProgressBar *progress_ = nullptr;
    QPushButton *cancelButton_ = nullptr;
    PlotArea *plot_ = nullptr;       // Picture1
    QTimer *redrawTimer_ = nullptr;  // Timer1
};
