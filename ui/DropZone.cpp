#include "ui/DropZone.h"

#include "ui/ContentState.h"
#include "ui/Theme.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QPainterPath>

namespace corvane {
namespace {

constexpr double lineWidth = 2;
constexpr double cornerRadius = 8;
constexpr double dashLength = 6;  // drawn, then the same gap
constexpr int lineSpacing = 6;    // between the two lines of text

}  // namespace

DropZone::DropZone(QWidget* parent) : QWidget(parent) {
    setFixedHeight(zoneHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAcceptDrops(true);
    setToolTip(QString::fromUtf8(tooltipText));
    setAccessibleName(QString::fromUtf8(titleText));
    setAccessibleDescription(QString::fromUtf8(tooltipText));
}

void DropZone::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = theme::secondaryColor(palette());

    // Dash lengths of a QPen count in line widths.
    QPen pen(secondary, lineWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setDashPattern({dashLength / lineWidth, dashLength / lineWidth});
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const QRectF outline = QRectF(rect()).adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);
    painter.drawRoundedRect(outline, cornerRadius, cornerRadius);

    const QFont body = theme::bodyFont(font());
    const QFont caption = theme::captionFont(font());
    const QFontMetrics bodyMetrics(body);
    const QFontMetrics captionMetrics(caption);
    const int block = bodyMetrics.height() + lineSpacing + captionMetrics.height();
    const int top = (height() - block) / 2;
    painter.setPen(secondary);
    painter.setFont(body);
    painter.drawText(QRect(0, top, width(), bodyMetrics.height()), Qt::AlignCenter, QString::fromUtf8(titleText));
    painter.setFont(caption);
    painter.drawText(QRect(0, top + bodyMetrics.height() + lineSpacing, width(), captionMetrics.height()), Qt::AlignCenter,
                     QString::fromUtf8(subtitleText));
}

void DropZone::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData() && carriesFileURLs(*event->mimeData())) event->acceptProposedAction();
}

void DropZone::dragMoveEvent(QDragMoveEvent* event) {
    if (event->mimeData() && carriesFileURLs(*event->mimeData())) event->acceptProposedAction();
}

void DropZone::dropEvent(QDropEvent* event) {
    const QMimeData* mime = event->mimeData();
    if (mime && handler_ && handler_(*mime)) {
        event->acceptProposedAction();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

}  // namespace corvane
