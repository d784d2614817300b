#include "ui/ResultRowDelegate.h"

#include "ui/OutcomeIcon.h"
#include "ui/ResultListModel.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QPainter>

#include <algorithm>

namespace corvane {
namespace {

// Sizes in device-independent pixels.
constexpr int rowPadding = 6;       // above and below the row's content (2 of the row, 4 of the list cell)
constexpr int sidePadding = 10;     // left and right of the row
constexpr int spacing = 10;         // between the parts of a row
constexpr int iconFrame = 18;       // the icon's column
constexpr int iconSide = 16;        // the drawn icon
constexpr int lineGap = 2;          // between the file name and the result text
constexpr int buttonPadding = 4;    // left and right of a button's title

QColor buttonColor(const QPalette& palette) { return palette.color(QPalette::Active, QPalette::Link); }

}  // namespace

ResultRowDelegate::ResultRowDelegate(const ResultListModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {}

QSize ResultRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QFontMetrics body(theme::bodyFont(option.font));
    const QFontMetrics caption(theme::captionFont(option.font));
    const int lines = model_.lineCount(index.row());
    const int content = body.height() + lineGap + caption.height() + (lines - 1) * caption.lineSpacing();
    return QSize(200, 2 * rowPadding + std::max(iconFrame, content));
}

ResultRowDelegate::Layout ResultRowDelegate::layout(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const QRect row = option.rect.adjusted(sidePadding, rowPadding, -sidePadding, -rowPadding);
    const QFontMetrics body(theme::bodyFont(option.font));
    const QFontMetrics caption(theme::captionFont(option.font));
    const int lines = model_.lineCount(index.row());
    const int buttonHeight = body.height() + 4;
    const int buttonTop = row.center().y() - buttonHeight / 2 + 1;

    Layout parts;
    parts.icon = QRect(row.left(), row.center().y() - iconFrame / 2 + 1, iconFrame, iconFrame);
    const int copyWidth = body.horizontalAdvance(QString::fromLatin1(copyTitle)) + 2 * buttonPadding;
    const int revealWidth = body.horizontalAdvance(QString::fromLatin1(revealTitle)) + 2 * buttonPadding;
    parts.copy = QRect(row.right() + 1 - copyWidth, buttonTop, copyWidth, buttonHeight);
    parts.reveal = QRect(parts.copy.left() - spacing - revealWidth, buttonTop, revealWidth, buttonHeight);
    const int textLeft = parts.icon.right() + 1 + spacing;
    const int textWidth = std::max(0, parts.reveal.left() - spacing - textLeft);
    const int contentHeight = body.height() + lineGap + caption.height() + (lines - 1) * caption.lineSpacing();
    const int top = row.top() + std::max(0, (row.height() - contentHeight) / 2);
    parts.name = QRect(textLeft, top, textWidth, body.height());
    parts.text = QRect(textLeft, parts.name.bottom() + 1 + lineGap, textWidth,
                       caption.height() + (lines - 1) * caption.lineSpacing());
    return parts;
}

ResultRowDelegate::Button ResultRowDelegate::buttonAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                                                      QPoint position) const {
    const Layout parts = layout(option, index);
    if (parts.reveal.contains(position)) return Button::reveal;
    if (parts.copy.contains(position)) return Button::copy;
    return Button::none;
}

void ResultRowDelegate::setHovered(const QModelIndex& index, Button button) {
    hoveredIndex_ = index;
    hovered_ = button;
}

void ResultRowDelegate::setPressed(const QModelIndex& index, Button button) {
    pressedIndex_ = index;
    pressed_ = button;
}

void ResultRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Layout parts = layout(option, index);
    const QPalette& palette = option.palette;
    const QFont body = theme::bodyFont(option.font);
    const QFont caption = theme::captionFont(option.font);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    // The icon, centred in its column.
    const int caseIndex = index.data(ResultListModel::CaseRole).toInt();
    const QImage icon = outcomeIcon(static_cast<size_t>(caseIndex), iconSide, painter->device()->devicePixelRatioF());
    painter->drawImage(QPoint(parts.icon.left() + (iconFrame - iconSide) / 2, parts.icon.top() + (iconFrame - iconSide) / 2),
                       icon);

    // The file name and the result text, each line cut short with an ellipsis where the row is narrow
    // (the whole text is in the row's tooltip and on the clipboard).
    painter->setFont(body);
    painter->setPen(palette.color(QPalette::Active, QPalette::Text));
    const QFontMetrics bodyMetrics(body);
    painter->drawText(parts.name, Qt::AlignLeft | Qt::AlignVCenter,
                      bodyMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, parts.name.width()));
    painter->setFont(caption);
    painter->setPen(theme::secondaryColor(palette));
    const QFontMetrics captionMetrics(caption);
    const QStringList lines = index.data(ResultListModel::ResultTextRole).toString().split(QLatin1Char('\n'));
    int y = parts.text.top();
    for (const QString& line : lines) {
        painter->drawText(QRect(parts.text.left(), y, parts.text.width(), captionMetrics.height()),
                          Qt::AlignLeft | Qt::AlignVCenter, captionMetrics.elidedText(line, Qt::ElideRight, parts.text.width()));
        y += captionMetrics.lineSpacing();
    }

    // The two borderless buttons: a title in the link colour, underlined under the mouse, darker
    // while held down.
    auto drawButton = [&](const QRect& rect, const char* title, Button which) {
        const bool pressed = pressed_ == which && pressedIndex_ == index;
        const bool hovered = hovered_ == which && hoveredIndex_ == index;
        QFont font = body;
        font.setUnderline(hovered);
        painter->setFont(font);
        const QColor color = buttonColor(palette);
        painter->setPen(pressed ? color.darker(150) : color);
        painter->drawText(rect, Qt::AlignCenter, QString::fromLatin1(title));
    };
    drawButton(parts.reveal, revealTitle, Button::reveal);
    drawButton(parts.copy, copyTitle, Button::copy);

    // The separator below the row, from the text column to the right edge.
    if (index.row() + 1 < index.model()->rowCount()) {
        QColor separator = palette.color(QPalette::Active, QPalette::WindowText);
        separator.setAlphaF(0.12f);
        painter->setPen(QPen(separator, 1));
        painter->setRenderHint(QPainter::Antialiasing, false);
        const int bottom = option.rect.bottom();
        painter->drawLine(parts.name.left(), bottom, option.rect.right() - sidePadding, bottom);
    }
    painter->restore();
}

}  // namespace corvane
