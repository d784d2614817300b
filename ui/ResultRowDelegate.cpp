// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultRowDelegate.h"

#include "ui/OutcomeIcon.h"
#include "ui/ResultListModel.h"
#include "ui/Theme.h"

#include <QApplication>
#include <QPainter>
#include <QRegularExpression>
#include <QTextLayout>

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

QColor buttonColor(const QPalette& palette) {
    return theme::accentOn(palette.color(QPalette::Active, QPalette::Link), palette, theme::textContrast);
}

// A whole line of text: fonts whose line spacing is smaller than their height would otherwise lose
// the descenders (and underscores) of every line to the next one.
int lineHeight(const QFontMetrics& metrics) { return std::max(metrics.height(), metrics.lineSpacing()); }

// Paths in a result text, quoted or bare: the part that can be cut short without losing the cause.
const QRegularExpression& pathPattern() {
    static const QRegularExpression pattern(QStringLiteral(R"("[^"\n]*/[^"\n]*"|(?<=^|\s)/\S+)"));
    return pattern;
}

QString elideLongPaths(const QString& line, const QFontMetrics& metrics, int width) {
    QString out;
    qsizetype from = 0;
    for (auto it = pathPattern().globalMatch(line); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        out += line.mid(from, match.capturedStart() - from);
        QString path = match.captured();
        if (metrics.horizontalAdvance(path) > width) path = metrics.elidedText(path, Qt::ElideMiddle, width);
        out += path;
        from = match.capturedEnd();
    }
    return out + line.mid(from);
}

}  // namespace

QStringList wrapResultText(const QString& text, const QFont& font, int width, int maxLines) {
    const QFontMetrics metrics(font);
    width = std::max(width, metrics.averageCharWidth() * 4);
    QStringList lines;
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        if (metrics.horizontalAdvance(paragraph) <= width) {
            lines.append(paragraph);
            continue;
        }
        const QString shortened = elideLongPaths(paragraph, metrics, width);
        QTextLayout layout(shortened, font);
        layout.setTextOption(option);
        layout.beginLayout();
        for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
            line.setLineWidth(width);
            QString part = shortened.mid(line.textStart(), line.textLength());
            while (part.endsWith(QLatin1Char(' '))) part.chop(1);
            lines.append(part);
        }
        layout.endLayout();
    }
    if (lines.size() > maxLines) {
        lines = lines.mid(0, maxLines);
        QString& last = lines.back();
        const QString ellipsis(QChar(0x2026));
        while (!last.isEmpty() && metrics.horizontalAdvance(last + ellipsis) > width) last.chop(1);
        last += ellipsis;
    }
    return lines;
}

ResultRowDelegate::ResultRowDelegate(const ResultListModel& model, QObject* parent)
    : QStyledItemDelegate(parent), model_(model) {
    // Row numbers change meaning when the list is refiltered and texts when it is reworded.
    connect(&model_, &QAbstractItemModel::modelReset, this, &ResultRowDelegate::forgetTexts);
    connect(&model_, &QAbstractItemModel::dataChanged, this, &ResultRowDelegate::forgetTexts);
}

void ResultRowDelegate::forgetTexts() { rowTexts_.clear(); }

void ResultRowDelegate::setRowWidth(int width) { rowWidth_ = width; }

int ResultRowDelegate::minimumRowWidth(const QFont& base) const {
    const Metrics& m = metrics(base);
    const int name = QFontMetrics(m.body).horizontalAdvance(QStringLiteral("IMG_00000.HEIC (1)"));
    return 2 * sidePadding + iconFrame + spacing + std::max(name, m.revealWidth + spacing + m.copyWidth);
}

int ResultRowDelegate::oneLineRowHeight(const QFont& base) const {
    const Metrics& m = metrics(base);
    return 2 * rowPadding + std::max(iconFrame, m.bodyHeight + lineGap + 2 * m.captionLineHeight);
}

bool ResultRowDelegate::buttonsBelow(const QFont& base) const { return stacked(metrics(base)); }

const ResultRowDelegate::Metrics& ResultRowDelegate::metrics(const QFont& base) const {
    if (haveMetrics_ && metrics_.base == base) return metrics_;
    metrics_.base = base;
    metrics_.body = theme::bodyFont(base);
    metrics_.caption = theme::captionFont(base);
    const QFontMetrics body(metrics_.body);
    const QFontMetrics caption(metrics_.caption);
    metrics_.bodyHeight = lineHeight(body);
    metrics_.captionLineHeight = lineHeight(caption);
    metrics_.copyWidth = body.horizontalAdvance(QString::fromLatin1(copyTitle)) + 2 * buttonPadding;
    metrics_.revealWidth = body.horizontalAdvance(QString::fromLatin1(revealTitle)) + 2 * buttonPadding;
    // Room beside the buttons for a file name such as "IMG_0001.HEIC" and a few words of a result text.
    const int name = body.horizontalAdvance(QStringLiteral("IMG_00000.HEIC (1)"));
    metrics_.besideWidth = 2 * sidePadding + iconFrame + 2 * spacing + name + metrics_.revealWidth + spacing + metrics_.copyWidth;
    haveMetrics_ = true;
    rowTexts_.clear();
    return metrics_;
}

bool ResultRowDelegate::stacked(const Metrics& m) const { return rowWidth_ > 0 && rowWidth_ < m.besideWidth; }

int ResultRowDelegate::contentHeight(const Metrics& m, int lines) const {
    // The name, the folder, the text and, on a narrow row, the buttons below them.
    const int text = m.bodyHeight + lineGap + (1 + std::max(1, lines)) * m.captionLineHeight;
    return stacked(m) ? text + 2 * lineGap + m.bodyHeight + 4 : text;
}

int ResultRowDelegate::textWidth(const Metrics& m) const {
    const int buttons = stacked(m) ? -spacing : m.revealWidth + spacing + m.copyWidth;
    return std::max(0, rowWidth_ - 2 * sidePadding - iconFrame - 2 * spacing - buttons);
}

int ResultRowDelegate::lineCount(const Metrics& m, const QModelIndex& index) const {
    const auto row = static_cast<size_t>(index.row());
    if (rowTexts_.size() <= row) rowTexts_.resize(row + 1);
    RowText& cached = rowTexts_[row];
    const int width = textWidth(m);
    if (cached.wrapWidth == width) return cached.lines;
    // Most texts are short: measuring each once and comparing with the width keeps a relayout of
    // 10,000 rows cheap; only texts wider than the line are wrapped.
    const QString text = index.data(ResultListModel::ResultTextRole).toString();
    if (cached.naturalWidth < 0) {
        const QFontMetrics caption(m.caption);
        cached.naturalWidth = 0;
        for (const QString& line : text.split(QLatin1Char('\n')))
            cached.naturalWidth = std::max(cached.naturalWidth, caption.horizontalAdvance(line));
    }
    cached.lines = cached.naturalWidth <= width ? std::min<int>(maxTextLines, model_.lineCount(index.row()))
                                                : static_cast<int>(wrapResultText(text, m.caption, width, maxTextLines).size());
    cached.wrapWidth = width;
    return cached.lines;
}

QStringList ResultRowDelegate::textLines(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Metrics& m = metrics(option.font);
    return wrapResultText(index.data(ResultListModel::ResultTextRole).toString(), m.caption, textWidth(m), maxTextLines);
}

QSize ResultRowDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Metrics& m = metrics(option.font);
    return QSize(200, 2 * rowPadding + std::max(iconFrame, contentHeight(m, lineCount(m, index))));
}

ResultRowDelegate::Layout ResultRowDelegate::layout(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    const Metrics& m = metrics(option.font);
    const QRect row = option.rect.adjusted(sidePadding, rowPadding, -sidePadding, -rowPadding);
    const int lines = lineCount(m, index);
    const int buttonHeight = m.bodyHeight + 4;
    const int content = contentHeight(m, lines);
    const int top = row.top() + std::max(0, (row.height() - content) / 2);
    const int textLeft = row.left() + iconFrame + spacing;

    Layout parts;
    int width = 0;
    if (stacked(m)) {
        // The icon beside the name, the buttons on a line of their own below the text, their titles
        // aligned with it.
        parts.icon = QRect(row.left(), top + (m.bodyHeight - iconFrame) / 2, iconFrame, iconFrame);
        const int buttonTop = top + content - buttonHeight;
        parts.reveal = QRect(textLeft - buttonPadding, buttonTop, m.revealWidth, buttonHeight);
        parts.copy = QRect(parts.reveal.right() + 1 + spacing, buttonTop, m.copyWidth, buttonHeight);
        width = row.right() + 1 - textLeft;
    } else {
        parts.icon = QRect(row.left(), row.center().y() - iconFrame / 2 + 1, iconFrame, iconFrame);
        const int buttonTop = row.center().y() - buttonHeight / 2 + 1;
        parts.copy = QRect(row.right() + 1 - m.copyWidth, buttonTop, m.copyWidth, buttonHeight);
        parts.reveal = QRect(parts.copy.left() - spacing - m.revealWidth, buttonTop, m.revealWidth, buttonHeight);
        width = std::max(0, parts.reveal.left() - spacing - textLeft);
    }
    parts.name = QRect(textLeft, top, width, m.bodyHeight);
    parts.folder = QRect(textLeft, parts.name.bottom() + 1 + lineGap, width, m.captionLineHeight);
    parts.text = QRect(textLeft, parts.folder.bottom() + 1, width, std::max(1, lines) * m.captionLineHeight);
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
    // The current row of a focused list: the row the keyboard acts on.
    const bool current = option.state.testFlag(QStyle::State_HasFocus);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QColor focusColor = theme::accentOn(palette.color(QPalette::Active, QPalette::Highlight), palette, theme::iconContrast);
    if (current) {
        QColor fill = focusColor;
        fill.setAlphaF(0.10f);
        painter->setPen(QPen(focusColor, 1.5));
        painter->setBrush(fill);
        painter->drawRoundedRect(QRectF(option.rect).adjusted(2, 2, -2, -2), 5, 5);
    }

    // The icon, centred in its column.
    const int caseIndex = index.data(ResultListModel::CaseRole).toInt();
    const QImage icon = outcomeIcon(static_cast<size_t>(caseIndex), iconSide, painter->device()->devicePixelRatioF(), palette);
    painter->drawImage(QPoint(parts.icon.left() + (iconFrame - iconSide) / 2, parts.icon.top() + (iconFrame - iconSide) / 2),
                       icon);

    // The file name and its folder (each cut short in the middle where the row is narrow; the tooltip
    // has the full path) and the result text, wrapped, one whole line height per line.
    painter->setFont(body);
    painter->setPen(palette.color(QPalette::Active, QPalette::Text));
    const QFontMetrics bodyMetrics(body);
    painter->drawText(parts.name, Qt::AlignLeft | Qt::AlignVCenter,
                      bodyMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideMiddle, parts.name.width()));
    painter->setFont(caption);
    painter->setPen(theme::secondaryColor(palette));
    painter->drawText(parts.folder, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      QFontMetrics(caption).elidedText(index.data(ResultListModel::FolderRole).toString(), Qt::ElideMiddle,
                                                       parts.folder.width()));
    int y = parts.text.top();
    for (const QString& line : textLines(option, index)) {
        painter->drawText(QRect(parts.text.left(), y, parts.text.width(), m.captionLineHeight),
                          Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, line);
        y += m.captionLineHeight;
    }

    // The two borderless buttons: a title in the link colour, underlined under the mouse, darker
    // while held down, framed while the keyboard is on it.
    auto drawButton = [&](const QRect& rect, const char* title, Button which) {
        const bool pressed = pressed_ == which && pressedIndex_ == index;
        const bool hovered = hovered_ == which && hoveredIndex_ == index;
        QFont font = body;
        font.setUnderline(hovered || (current && focused_ == which));
        painter->setFont(font);
        const QColor color = buttonColor(palette);
        painter->setPen(pressed ? color.darker(150) : color);
        painter->drawText(rect, Qt::AlignCenter, QString::fromLatin1(title));
        if (current && focused_ == which) {
            painter->setPen(QPen(focusColor, 1.5));
            painter->setBrush(Qt::NoBrush);
            painter->drawRoundedRect(QRectF(rect).adjusted(-2, -1, 2, 1), 3, 3);
        }
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
