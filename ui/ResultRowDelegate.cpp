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

const ResultRowDelegate::Metrics& ResultRowDelegate::metrics(const QFont& base) const {
    if (haveMetrics_ && metrics_.base == base) return metrics_;
    metrics_.base = base;
    metrics_.body = theme::bodyFont(base);
    metrics_.caption = theme::captionFont(base);
    const QFontMetrics body(metrics_.body);
    const QFontMetrics caption(metrics_.caption);
    metrics_.bodyHeight = body.height();
    metrics_.captionHeight = caption.height();
    metrics_.captionLineSpacing = caption.lineSpacing();
    metrics_.copyWidth = body.horizontalAdvance(QString::fromLatin1(copyTitle)) + 2 * buttonPadding;
    metrics_.revealWidth = body.horizontalAdvance(QString::fromLatin1(revealTitle)) + 2 * buttonPadding;
    haveMetrics_ = true;
    return metrics_;
}

int ResultRowDelegate::contentHeight(const Metrics& m, int lines) const {
    return m.bodyHeight + lineGap + m.captionHeight + (std::max(1, lines) - 1) * m.captionLineSpacing;
}

QSize ResultRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Metrics& m = metrics(option.font);
    return QSize(200, 2 * rowPadding + std::max(iconFrame, contentHeight(m, model_.lineCount(index.row()))));
}

ResultRowDelegate::Layout ResultRowDelegate::layout(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Metrics& m = metrics(option.font);
    const QRect row = option.rect.adjusted(sidePadding, rowPadding, -sidePadding, -rowPadding);
    const int lines = model_.lineCount(index.row());
    const int buttonHeight = m.bodyHeight + 4;
    const int buttonTop = row.center().y() - buttonHeight / 2 + 1;

    Layout parts;
    parts.icon = QRect(row.left(), row.center().y() - iconFrame / 2 + 1, iconFrame, iconFrame);
    parts.copy = QRect(row.right() + 1 - m.copyWidth, buttonTop, m.copyWidth, buttonHeight);
    parts.reveal = QRect(parts.copy.left() - spacing - m.revealWidth, buttonTop, m.revealWidth, buttonHeight);
    const int textLeft = parts.icon.right() + 1 + spacing;
    const int textWidth = std::max(0, parts.reveal.left() - spacing - textLeft);
    const int content = contentHeight(m, lines);
    const int top = row.top() + std::max(0, (row.height() - content) / 2);
    parts.name = QRect(textLeft, top, textWidth, m.bodyHeight);
    parts.text = QRect(textLeft, parts.name.bottom() + 1 + lineGap, textWidth, content - m.bodyHeight - lineGap);
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
    const Metrics& m = metrics(option.font);
    const QFont& body = m.body;
    const QFont& caption = m.caption;
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
