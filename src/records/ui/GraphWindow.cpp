#include "records/ui/GraphWindow.h"

#include "app/Module1.h"
#include "records/BackgroundPass.h"
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
#include <QProgressBar>
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

void PlotArea::setCornerWidget(QWidget *widget) {
    corner_ = widget;
    widget->setParent(this);
    placeCorner();
}

void PlotArea::placeCorner() {
    if (!corner_)
        return;
    corner_->adjustSize();
    corner_->move(width() - corner_->width() - 4, 4);
}

void PlotArea::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    placeCorner();
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

// A redraw: what it reads and with which ranges, and what it found.
struct GraphWindow::ChartJob {
    QString databasePath;
    QString statement;
    QSize size;
    QString tempLow, tempHigh, humLow, humHigh;  // Text3, Text4, Text1, Text2
    ChartData data;
};

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
    // Shown over the plot's corner while a redraw reads the records, so that
    // the controls above keep their places.
    auto *busy = new QWidget();
    progress_ = named(new QProgressBar(), "progress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(120);
    cancelButton_ = named(new QPushButton(QStringLiteral("取消")), "cancel");
    auto *busyLayout = new QHBoxLayout(busy);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    busyLayout->addWidget(progress_);
    busyLayout->addWidget(cancelButton_);
    Picture1->setCornerWidget(busy);
    busy->hide();
    pass_ = new BackgroundPass(this);

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
    connect(Timer1, &QTimer::timeout, this, &GraphWindow::Timer1_Timer);
    connect(cancelButton_, &QPushButton::clicked, pass_, &BackgroundPass::cancel);
    connect(pass_, &BackgroundPass::progressChanged, progress_, &QProgressBar::setValue);
    connect(pass_, &BackgroundPass::runningChanged, busy, &QWidget::setVisible);
    connect(Check1, &QCheckBox::clicked, this, &GraphWindow::Check1_Click);
    connect(Picture1, &PlotArea::pointerMoved, this, &GraphWindow::Picture1_MouseMove);

    // Load: draw at the size the plot will have when the window shows.
    layout->activate();
    Drawxy();
}

bool GraphWindow::isBusy() const {
    return pass_->isRunning();
}

void GraphWindow::Drawxy() {
    if (pass_->isRunning()) {
        superseding_ = true;
        pass_->cancel();
        superseding_ = false;
    }
    auto job = std::make_shared<ChartJob>();
    job->size = Picture1->size();
    if (job->size.width() < 100 || job->size.height() < 50)
        job->size = Picture1->sizeHint();
    job->tempLow = Text3->text();
    job->tempHigh = Text4->text();
    job->humLow = Text1->text();
    job->humHigh = Text2->text();
    job->databasePath = Module1::dbconn().path();
    job->statement = Module1::thsql();
    if (job->statement.isEmpty()) {
        data_ = ChartData();
        paint(*job, QStringLiteral("还没有查询记录"));
        return;
    }
    // A plot that has nothing yet shows its grid while the records are read.
    if (Picture1->image().isNull())
        paint(*job, QString(), true);
    Drawth(job);
}

void GraphWindow::Timer1_Timer() {
    if (refreshAction(pass_->isRunning(), true) == RefreshAction::Skip)
        return;
    Drawxy();
}

void GraphWindow::Drawth(const std::shared_ptr<ChartJob> &job) {
    pass_->start(
        [job](PassControl &control) {
            job->data = loadChart(job->databasePath, job->statement, job->size.width(), control);
        },
        [this, job](bool completed) { chartEnded(*job, completed); });
}

void GraphWindow::chartEnded(ChartJob &job, bool completed) {
    if (!completed) {
        if (superseding_)
            return;
        data_ = ChartData();
        paint(job, QStringLiteral("曲线绘制已取消"));
        return;
    }
    data_ = std::move(job.data);
    paint(job);
}

void GraphWindow::paint(const ChartJob &job, const QString &note, bool gridOnly) {
    QImage image(job.size, QImage::Format_RGB32);
    QPainter painter(&image);
    notes_.clear();
    const chart::Scale scale = chart::readScale(job.tempLow, job.tempHigh, job.humLow, job.humHigh);
    chartpaint::paintGrid(painter, job.size, scale, job.tempLow, job.humLow);
    if (!gridOnly) {
        if (!note.isEmpty())
            notes_ << note;
        else if (!data_.error.isEmpty())
            notes_ << QStringLiteral("无法读取记录：") + data_.error;
        else if (data_.count == 0)
            notes_ << QStringLiteral("没有记录");
        // Humidity first, temperature over it.
        if (scale.hum)
            chartpaint::paintCurve(painter, job.size, data_.hum.polylines(), *scale.hum,
                                   chartpaint::kHumCurve);
        if (scale.temp)
            chartpaint::paintCurve(painter, job.size, data_.temp.polylines(), *scale.temp,
                                   chartpaint::kTempCurve);
    }
    if (!scale.temp)
        notes_ << scale.tempNote;
    if (!scale.hum)
        notes_ << scale.humNote;
    chartpaint::paintNotes(painter, job.size, notes_);
    painter.end();
    Picture1->setImage(image);
    Label4->clear();
    readoutIndex_ = -1;
}

void GraphWindow::Picture1_MouseMove(double x) {
    // The time is read from the database when the pointer reaches another record.
    const qsizetype k = chart::readoutIndex(data_.count, x);
    if (k == readoutIndex_)
        return;
    readoutIndex_ = k;
    Label4->setText(chartTimeAt(Module1::dbconn(), data_, k));
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
