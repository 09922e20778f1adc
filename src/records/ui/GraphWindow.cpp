#include "records/ui/GraphWindow.h"

#include "records/BackgroundPass.h"
#include "records/FilterText.h"
#include "records/RecordQuery.h"
#include "records/ui/ChartPainter.h"
#include "records/ui/WindowParts.h"
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

// A redraw: what it reads and with which ranges, and what it found and drew.
struct GraphWindow::ChartJob {
    QString databasePath;
    QString statement;
    QSize size;
    QString tempLow, tempHigh, humLow, humHigh;  // Text3, Text4, Text1, Text2
    ChartData data;
    QImage image;
    QStringList notes;
};

namespace {
// The plot of a redraw: grid, scale, the curves of `data` (none when null)
// and the short notes (`note` in place of what the data would say). Any
// thread: the curves of a large or ragged set of records are drawn on the
// pass's thread, so that the window keeps answering.
template <class Job>
QImage drawPlot(const Job &job, const ChartData *data, const QString &note, QStringList *notes) {
    QImage image(job.size, QImage::Format_RGB32);
    QPainter painter(&image);
    notes->clear();
    const chart::Scale scale = chart::readScale(job.tempLow, job.tempHigh, job.humLow, job.humHigh);
    chartpaint::paintGrid(painter, job.size, scale, job.tempLow, job.humLow);
    if (!note.isEmpty())
        *notes << note;
    else if (data && !data->error.isEmpty())
        *notes << QStringLiteral("无法读取记录：") + data->error;
    else if (data && data->count == 0)
        *notes << QStringLiteral("没有记录");
    if (data) {
        // Humidity first, temperature over it.
        if (scale.hum)
            chartpaint::paintCurve(painter, job.size, data->hum.polylines(), *scale.hum,
                                   chartpaint::kHumCurve);
        if (scale.temp)
            chartpaint::paintCurve(painter, job.size, data->temp.polylines(), *scale.temp,
                                   chartpaint::kTempCurve);
    }
    if (!scale.temp)
        *notes << scale.tempNote;
    if (!scale.hum)
        *notes << scale.humNote;
    chartpaint::paintNotes(painter, job.size, *notes);
    painter.end();
    return image;
}
}  // namespace

GraphWindow::GraphWindow(LiteConnection *db, const QString *query, QWidget *parent)
    : QWidget(parent, Qt::Window), db_(db), query_(query), times_(db->path()) {
    setObjectName(QStringLiteral("graph"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("温湿度图形曲线"));
    resize(900, 560);

    auto *precisionLabel = makeControl<QLabel>(this, "Label3", QStringLiteral("调整显示精度"));
    auto *tempLabel =
        makeControl<QLabel>(this, "Label2", QStringLiteral("温度(黄线)从：      度到      度"));
    auto *humLabel =
        makeControl<QLabel>(this, "Label1", QStringLiteral("湿度(白线)从：      %到       %"));
    for (QLabel *l : {tempLabel, humLabel}) l->setTextFormat(Qt::PlainText);
    tempLowBox_ = makeControl<QLineEdit>(this, "Text3", QStringLiteral("-20"));
    tempHighBox_ = makeControl<QLineEdit>(this, "Text4", QStringLiteral("80"));
    humLowBox_ = makeControl<QLineEdit>(this, "Text1", QStringLiteral("0"));
    humHighBox_ = makeControl<QLineEdit>(this, "Text2", QStringLiteral("100"));
    redrawPeriodBox_ = makeControl<QLineEdit>(this, "Text5", QStringLiteral("60"));
    autoRedrawBox_ = makeControl<QCheckBox>(this, "Check1", QStringLiteral("每     秒自动更新"));
    auto *redrawButton = makeControl<QPushButton>(this, "Command3", QStringLiteral("重绘"));
    auto *exitButton = makeControl<QPushButton>(this, "Command1", QStringLiteral("退出"));
    readout_ = makeControl<QLabel>(this, "Label4");
    readout_->setMinimumWidth(150);
    plot_ = makeControl<PlotArea>(this, "Picture1");
    redrawTimer_ = makeControl<QTimer>(this, "Timer1");
    // Shown over the plot's corner while a redraw reads the records, so that
    // the controls above keep their places.
    auto *busy = new QWidget(this);
    progress_ = makeControl<QProgressBar>(busy, "progress");
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(120);
    cancelButton_ = makeControl<QPushButton>(busy, "cancel", QStringLiteral("取消"));
    auto *busyLayout = new QHBoxLayout(busy);
    busyLayout->setContentsMargins(0, 0, 0, 0);
    busyLayout->addWidget(progress_);
    busyLayout->addWidget(cancelButton_);
    plot_->setCornerWidget(busy);
    busy->hide();
    pass_ = new BackgroundPass(this);

    auto *controls = new QHBoxLayout();
    for (QWidget *w :
         std::initializer_list<QWidget *>{precisionLabel, tempLabel, humLabel, autoRedrawBox_})
        controls->addWidget(w);
    controls->addStretch();
    for (QWidget *w : std::initializer_list<QWidget *>{readout_, redrawButton, exitButton})
        controls->addWidget(w);
    placeInGaps(tempLabel, {tempLowBox_, tempHighBox_});
    placeInGaps(humLabel, {humLowBox_, humHighBox_});
    placeInGaps(autoRedrawBox_, {redrawPeriodBox_});

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(plot_, 1);

    connect(redrawButton, &QPushButton::clicked, this, &GraphWindow::Drawxy);
    connect(exitButton, &QPushButton::clicked, this, &QWidget::close);
    connect(redrawTimer_, &QTimer::timeout, this, &GraphWindow::redrawOnTimer);
    connect(cancelButton_, &QPushButton::clicked, pass_, &BackgroundPass::cancel);
    connect(pass_, &BackgroundPass::progressChanged, progress_, &QProgressBar::setValue);
    connect(pass_, &BackgroundPass::runningChanged, busy, &QWidget::setVisible);
    connect(autoRedrawBox_, &QCheckBox::clicked, this, &GraphWindow::setAutoRedraw);
    connect(plot_, &PlotArea::pointerMoved, this, &GraphWindow::pointerMoved);

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
    job->size = plot_->size();
    if (job->size.width() < 100 || job->size.height() < 50)
        job->size = plot_->sizeHint();
    job->tempLow = tempLowBox_->text();
    job->tempHigh = tempHighBox_->text();
    job->humLow = humLowBox_->text();
    job->humHigh = humHighBox_->text();
    job->databasePath = db_->path();
    job->statement = *query_;
    if (job->statement.isEmpty()) {
        data_ = ChartData();
        showEmpty(*job, QStringLiteral("还没有查询记录"));
        return;
    }
    // A plot that has nothing yet shows its grid while the records are read.
    if (plot_->image().isNull())
        showEmpty(*job, QString(), true);
    Drawth(job);
}

void GraphWindow::redrawOnTimer() {
    if (refreshAction(pass_->isRunning(), true) == RefreshAction::Skip)
        return;
    Drawxy();
}

void GraphWindow::Drawth(const std::shared_ptr<ChartJob> &job) {
    pass_->start(
        [job](PassControl &control) {
            job->data = loadChart(job->databasePath, job->statement, job->size.width(), control);
            if (!control.cancelled())
                job->image = drawPlot(*job, &job->data, QString(), &job->notes);
        },
        [this, job](bool completed) { chartEnded(*job, completed); });
}

void GraphWindow::chartEnded(ChartJob &job, bool completed) {
    if (!completed) {
        if (superseding_)
            return;
        data_ = ChartData();
        showEmpty(job, QStringLiteral("曲线绘制已取消"));
        return;
    }
    data_ = std::move(job.data);
    showPlot(std::move(job.image), std::move(job.notes));
}

void GraphWindow::showEmpty(const ChartJob &job, const QString &note, bool gridOnly) {
    QStringList notes;
    QImage image = drawPlot(job, gridOnly ? nullptr : &data_, note, &notes);
    showPlot(std::move(image), std::move(notes));
}

void GraphWindow::showPlot(QImage image, QStringList notes) {
    notes_ = std::move(notes);
    plot_->setImage(image);
    // The readout keeps its text until the pointer moves; the next move reads
    // the new records.
    readoutIndex_.reset();
}

void GraphWindow::pointerMoved(double x) {
    // The time is read from the database when the pointer reaches another record.
    const qsizetype k = chart::readoutIndex(data_.count, x);
    if (k == readoutIndex_)
        return;
    readoutIndex_ = k;
    readout_->setText(times_.at(data_, k));
}

void GraphWindow::setAutoRedraw(bool ticked) {
    switchAutoUpdate(ticked, this, autoRedrawBox_, redrawPeriodBox_, redrawTimer_);
}
