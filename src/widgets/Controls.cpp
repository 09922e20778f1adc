#include "widgets/Controls.h"

#include <QAbstractButton>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStyleOptionButton>

namespace {

class GapPlacer : public QObject {
public:
    GapPlacer(QWidget *host, const QList<QLineEdit *> &edits)
        : QObject(host), host_(host), edits_(edits) {
        for (QLineEdit *e : edits_) {
            e->setParent(host_);
            e->setFrame(false);
            e->setAlignment(Qt::AlignCenter);
            e->setTextMargins(0, 0, 0, 0);
        }
        host_->installEventFilter(this);
        // The caption needs room for the boxes' text.
        host_->setMinimumWidth(host_->sizeHint().width());
        place();
    }

    bool eventFilter(QObject *watched, QEvent *event) override {
        switch (event->type()) {
            case QEvent::Resize:
            case QEvent::Show:
            case QEvent::FontChange:
            case QEvent::StyleChange:
                place();
                break;
            default:
                break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QString caption() const {
        if (auto *label = qobject_cast<QLabel *>(host_))
            return label->text();
        if (auto *button = qobject_cast<QAbstractButton *>(host_))
            return button->text();
        return {};
    }

    int textLeft() const {
        if (auto *button = qobject_cast<QAbstractButton *>(host_)) {
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            return host_->style()
                ->subElementRect(QStyle::SE_CheckBoxContents, &option, button)
                .left();
        }
        if (auto *label = qobject_cast<QLabel *>(host_))
            return label->contentsRect().left() + qMax(0, label->indent()) + label->margin();
        return 0;
    }

    void place() {
        const QString text = caption();
        const QFontMetrics fm(host_->font());
        const int left = textLeft();
        int index = 0;
        qsizetype i = 0;
        while (i < text.size() && index < edits_.size()) {
            if (text.at(i) != QLatin1Char(' ') || i + 1 >= text.size() ||
                text.at(i + 1) != QLatin1Char(' ')) {
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < text.size() && text.at(end) == QLatin1Char(' ')) ++end;
            const int x = left + fm.horizontalAdvance(text.left(i));
            const int w = fm.horizontalAdvance(text.mid(i, end - i));
            const int h = qMin(host_->height(), fm.height() + 4);
            edits_.at(index++)->setGeometry(x, (host_->height() - h) / 2, w, h);
            i = end;
        }
    }

    QWidget *host_;
    QList<QLineEdit *> edits_;
};

}  // namespace

void placeInGaps(QWidget *host, const QList<QLineEdit *> &edits) {
    new GapPlacer(host, edits);
}
