#pragma once

#include "records/ChartData.h"

#include <QImage>
#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
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

Q_SIGNALS:
    void pointerMoved(double x);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;

private:
    QImage image_;
};

// The window "graph" (温湿度图形曲线): temperature and humidity curves of the last record query.
class GraphWindow : public QWidget {
    Q_OBJECT
public:
    explicit GraphWindow(QWidget *parent = nullptr);

    // Clears the plot, draws grid and scale, then the curves (Drawth).
    void Drawxy();
    // The readout for a pointer at plot x `x`.
    void Picture1_MouseMove(double x);

    qsizetype plotCount() const { return data_.count; }
    const ChartData &data() const { return data_; }
    // Short notes shown on the plot by the last redraw (no record, a range
    // that cannot be drawn, a failed query).
    const QStringList &notes() const { return notes_; }
    PlotArea *picture() const { return Picture1; }
    QTimer *timer() const { return Timer1; }

private:
    void Drawth(QPainter &painter, const QSize &size);
    void Check1_Click(bool ticked);

    ChartData data_;
    QStringList notes_;

    QLineEdit *Text1, *Text2, *Text3, *Text4, *Text5;
    QLabel *Label1, *Label2, *Label3, *Label4;
    QCheckBox *Check1;
    QPushButton *Command1, *Command3;
    PlotArea *Picture1;
    QTimer *Timer1;
};
