#include "records/ui/GraphWindow.h"

#include "app/Module1.h"
#include "records/FilterText.h"
#include "records/RecordQuery.h"
#include "records/ui/ChartPainter.h"
#include "widgets/Controls.h"
#include "widgets/MessageBoxes.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

PlotArea::PlotArea(QWidget *parent) : QWidget(parent) {
    setMouseTracking(true);
    setMinimumSize(200, 100);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PlotArea::setImage(const QImage &image) {
    image_ = image;
    update();
}

void PlotArea::paintEvent(QPaintEvent *) {
    QPainter p(this);
    if (image_.isNull()) {
        p.fillRect(rect(), chartpaint::kBackground);
        return;
    }
    // A plot drawn for another size is stretched until the next redraw.
    p.setRenderHint(QPainter::SmoothPixmapTransform, image_.size() != size());
    p.drawImage(rect(), image_);
}

void PlotArea::mouseMoveEvent(QMouseEvent *event) {
    if (width() > 0)
        Q_EMIT pointerMoved(event->position().x() * chart::kWidth / width());
    QWidget::mouseMoveEvent(event);
}

namespace {
QLineEdit *rangeBox(const char *name, const QString &text) {
    return named(new QLineEdit(text), name);
}
}  // namespace

GraphWindow::GraphWindow(QWidget *parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("graph"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("温湿度图形曲线"));
    resize(900, 560);

    Label3 = named(new QLabel(QStringLiteral("调整显示精度")), "Label3");
    Label2 = named(new QLabel(QStringLiteral("温度(黄线)从：      度到      度")), "Label2");
    Label1 = named(new QLabel(QStringLiteral("湿度(白线)从：      %到       %")), "Label1");
    for (QLabel *l : {Label1, Label2}) l->setTextFormat(Qt::PlainText);
    Text3 = rangeBox("Text3", QStringLiteral("-20"));
    Text4 = rangeBox("Text4", QStringLiteral("80"));
    Text1 = rangeBox("Text1", QStringLiteral("0"));
    Text2 = rangeBox("Text2", QStringLiteral("100"));
    Text5 = rangeBox("Text5", QStringLiteral("60"));
    Check1 = named(new QCheckBox(QStringLiteral("每     秒自动更新")), "Check1");
    Command3 = named(new QPushButton(QStringLiteral("重绘")), "Command3");
    Command1 = named(new QPushButton(QStringLiteral("退出")), "Command1");
    Label4 = named(new QLabel(), "Label4");
    Label4->setMinimumWidth(150);
    Picture1 = named(new PlotArea(), "Picture1");
    Timer1 = named(new QTimer(this), "Timer1");

    auto *controls = new QHBoxLayout();
    for (QWidget *w : std::initializer_list<QWidget *>{Label3, Label2, Label1, Check1})
        controls->addWidget(w);
    controls->addStretch();
    for (QWidget *w : std::initializer_list<QWidget *>{Label4, Command3, Command1})
        controls->addWidget(w);
    placeInGaps(Label2, {Text3, Text4});
    placeInGaps(Label1, {Text1, Text2});
    placeInGaps(Check1, {Text5});

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(Picture1, 1);

    connect(Command3, &QPushButton::clicked, this, &GraphWindow::Drawxy);
    connect(Command1, &QPushButton::clicked, this, &QWidget::close);
    connect(Timer1, &QTimer::timeout, this, &GraphWindow::Drawxy);
    connect(Check1, &QCheckBox::clicked, this, &GraphWindow::Check1_Click);
    connect(Picture1, &PlotArea::pointerMoved, this, &GraphWindow::Picture1_MouseMove);

    // Load: draw at the size the plot will have when the window shows.
    layout->activate();
    Drawxy();
}

void GraphWindow::Drawxy() {
    QSize size = Picture1->size();
    if (size.width() < 100 || size.height() < 50)
        size = Picture1->sizeHint();
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    notes_.clear();
    const chart::Scale scale =
        chart::readScale(Text3->text(), Text4->text(), Text1->text(), Text2->text());
    chartpaint::paintGrid(painter, size, scale, Text3->text(), Text1->text());
    Drawth(painter, size);
    if (!scale.temp)
        notes_ << scale.tempNote;
    if (!scale.hum)
        notes_ << scale.humNote;
    chartpaint::paintNotes(painter, size, notes_);
    painter.end();
    Picture1->setImage(image);
    Label4->clear();
}

void GraphWindow::Drawth(QPainter &painter, const QSize &size) {
    const QString statement = Module1::thsql();
    if (statement.isEmpty()) {
        data_ = ChartData();
        notes_ << QStringLiteral("还没有查询记录");
        return;
    }
    data_ = loadChart(Module1::dbconn(), statement, size.width());
    if (!data_.error.isEmpty())
        notes_ << QStringLiteral("无法读取记录：") + data_.error;
    else if (data_.count == 0)
        notes_ << QStringLiteral("没有记录");
    const chart::Scale scale =
        chart::readScale(Text3->text(), Text4->text(), Text1->text(), Text2->text());
    // Humidity first, temperature over it.
    if (scale.hum)
        chartpaint::paintCurve(painter, size, data_.hum.polylines(), *scale.hum,
                               chartpaint::kHumCurve);
    if (scale.temp)
        chartpaint::paintCurve(painter, size, data_.temp.polylines(), *scale.temp,
                               chartpaint::kTempCurve);
}

void GraphWindow::Picture1_MouseMove(double x) {
    Label4->setText(data_.timeAt(chart::readoutIndex(data_.count, x)));
}

void GraphWindow::Check1_Click(bool ticked) {
    if (!ticked) {
        Timer1->stop();
        return;
    }
    const auto ms = periodMilliseconds(Text5->text());
    if (!ms) {
        Check1->setChecked(false);
        msgBox(this, filtertext::checkPeriod(Text5->text(), QStringLiteral("每…秒自动更新")),
               MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    Timer1->start(*ms);
}
