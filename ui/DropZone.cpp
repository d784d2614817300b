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

#include <algorithm>

namespace corvane {
namespace {

constexpr double lineWidth = 2;
constexpr double cornerRadius = 8;
constexpr double dashLength = 6;  // drawn, then the same gap
constexpr int lineSpacing = 6;    // between the two lines of text
constexpr int textInset = 16;     // between the outline and the text, left and right
constexpr int compactInset = 9;   // above and below the one line of text of the smallest zone

QColor highlightColor(const QPalette& palette) {
    return theme::accentOn(palette.color(QPalette::Active, QPalette::Highlight), palette, theme::iconContrast);
}

}  // namespace

DropZone::DropZone(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAcceptDrops(true);
    setToolTip(QString::fromUtf8(tooltipText));
    setAccessibleName(QString::fromUtf8(titleText));
    setAccessibleDescription(QString::fromUtf8(tooltipText));
}

QSize DropZone::minimumSizeHint() const {
    // The title on one line; the subtitle wraps, or gives way where the zone is low.
    const QFontMetrics body(theme::bodyFont(font()));
    return QSize(body.horizontalAdvance(QString::fromUtf8(titleText)) + 2 * textInset,
                 body.height() + 2 * compactInset + 2 * static_cast<int>(lineWidth));
}

QSize DropZone::sizeHint() const {
    const int subtitle = QFontMetrics(theme::captionFont(font())).horizontalAdvance(QString::fromUtf8(subtitleText));
    return QSize(subtitle + 2 * textInset, zoneHeight);
}

void DropZone::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = theme::secondaryColor(palette());
    const QColor accent = highlightColor(palette());
    const QRectF outline = QRectF(rect()).adjusted(lineWidth / 2, lineWidth / 2, -lineWidth / 2, -lineWidth / 2);

    if (highlighted_) {
        // A drag that would be taken: the zone fills with the accent colour, its outline takes it on.
        QColor fill = accent;
        fill.setAlphaF(0.12f);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        painter.drawRoundedRect(outline, cornerRadius, cornerRadius);
    }
    // Dash lengths of a QPen count in line widths.
    QPen pen(highlighted_ ? accent : secondary, lineWidth, Qt::CustomDashLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setDashPattern({dashLength / lineWidth, dashLength / lineWidth});
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(outline, cornerRadius, cornerRadius);
    if (hasFocus()) {
        // The keyboard focus: a solid ring just inside the dashed outline.
        painter.setPen(QPen(accent, lineWidth));
        painter.drawRoundedRect(outline.adjusted(3, 3, -3, -3), cornerRadius - 2, cornerRadius - 2);
    }

    const QFont body = theme::bodyFont(font());
    const QFont caption = theme::captionFont(font());
    const QFontMetrics bodyMetrics(body);
    const QRect textArea = rect().adjusted(textInset, 0, -textInset, 0);
    const QString subtitle = QString::fromUtf8(subtitleText);
    const int subtitleHeight = QFontMetrics(caption)
                                   .boundingRect(QRect(0, 0, std::max(1, textArea.width()), 10000),
                                                 Qt::AlignHCenter | Qt::TextWordWrap, subtitle)
                                   .height();
    // Both lines where they fit, the title alone where the zone is low.
    const bool both = bodyMetrics.height() + lineSpacing + subtitleHeight + 2 * compactInset <= height();
    const int block = bodyMetrics.height() + (both ? lineSpacing + subtitleHeight : 0);
    const int top = (height() - block) / 2;
    painter.setPen(highlighted_ ? accent : secondary);
    painter.setFont(body);
    painter.drawText(QRect(textArea.left(), top, textArea.width(), bodyMetrics.height()), Qt::AlignCenter,
                     bodyMetrics.elidedText(QString::fromUtf8(titleText), Qt::ElideRight, textArea.width()));
    if (!both) return;
    painter.setPen(secondary);
    painter.setFont(caption);
    painter.drawText(QRect(textArea.left(), top + bodyMetrics.height() + lineSpacing, textArea.width(), subtitleHeight),
                     Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, subtitle);
}

void DropZone::keyPressEvent(QKeyEvent* event) {
    // Space is the button's own key; Enter presses it as well, as on a focused push button.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && !(event->modifiers() & ~Qt::KeypadModifier)) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

DropZone::Answer DropZone::answer(const QDropEvent& event) const {
    // Other drags (text, web links) are none of the zone's business and pass without a word.
    if (!event.mimeData() || !carriesFileURLs(*event.mimeData())) return {false, {}};
    const bool copyOffered = event.possibleActions().testFlag(Qt::CopyAction);
    const QString reason = check_ ? check_(copyOffered) : QString();
    // Only ever a copy, whatever the check says.
    return {copyOffered && reason.isEmpty(), reason};
}

void DropZone::setHighlighted(bool on) {
    if (highlighted_ == on) return;
    highlighted_ = on;
    update();
}

void DropZone::dragEnterEvent(QDragEnterEvent* event) {
    toldReason_.clear();
    dragMoveEvent(event);
}

void DropZone::dragMoveEvent(QDragMoveEvent* event) {
    // Asked again at every move: the keys held (Shift: move) and the run can change while it hovers.
    const Answer given = answer(*event);
    setHighlighted(given.takes);
    if (!given.reason.isEmpty() && given.reason != toldReason_) emit refused(given.reason);
    toldReason_ = given.reason;
    if (!given.takes) return event->ignore();
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void DropZone::dragLeaveEvent(QDragLeaveEvent* event) {
    setHighlighted(false);
    QAbstractButton::dragLeaveEvent(event);
}

void DropZone::dropEvent(QDropEvent* event) {
    setHighlighted(false);
    if (answer(*event).takes && handler_ && handler_(*event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->setDropAction(Qt::IgnoreAction);
        event->ignore();
    }
}

}  // namespace corvane
