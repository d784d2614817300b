// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/DropZone.h"

#include "ui/ContentState.h"
#include "ui/Theme.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
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

DropZone::DropZone(QWidget* parent) : QAbstractButton(parent) {
    setFixedHeight(zoneHeight);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAcceptDrops(true);
    setToolTip(QString::fromUtf8(tooltipText));
    setAccessibleName(QString::fromUtf8(titleText));
    setAccessibleDescription(QString::fromUtf8(tooltipText));
}

QSize DropZone::minimumSizeHint() const {
    // The longer line of text, with a margin on each side.
    const int text = QFontMetrics(theme::captionFont(font())).horizontalAdvance(QString::fromUtf8(subtitleText));
    return QSize(text + 4 * lineSpacing * 2, zoneHeight);
}

QSize DropZone::sizeHint() const { return minimumSizeHint(); }

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
    if (hasFocus()) {
        // The keyboard focus: a solid ring just inside the dashed outline.
        const QColor focus = theme::accentOn(palette().color(QPalette::Active, QPalette::Highlight), palette(),
                                             theme::iconContrast);
        painter.setPen(QPen(focus, lineWidth));
        painter.drawRoundedRect(outline.adjusted(3, 3, -3, -3), cornerRadius - 2, cornerRadius - 2);
    }

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

void DropZone::keyPressEvent(QKeyEvent* event) {
    // Space is the button's own key; Enter presses it as well, as on a focused push button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !(event->modifiers() & ~Qt::KeypadModifier)) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

bool DropZone::takes(const QDropEvent& event) const {
    return event.mimeData() && carriesFileURLs(*event.mimeData()) && event.possibleActions().testFlag(Qt::CopyAction) &&
           (!check_ || check_());
}

// Entering and moving over the zone are answered alike.
void DropZone::dragEnterEvent(QDragEnterEvent* event) { dragMoveEvent(event); }

void DropZone::dragMoveEvent(QDragMoveEvent* event) {
    if (!takes(*event)) return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropZone::dropEvent(QDropEvent* event) {
    if (takes(*event) && handler_ && handler_(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

}  // namespace corvane
