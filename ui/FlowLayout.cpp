// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/FlowLayout.h"

#include <QWidget>

#include <algorithm>

namespace corvane {

FlowLayout::FlowLayout(QWidget* parent, int horizontalSpacing, int verticalSpacing)
    : QLayout(parent), horizontalSpacing_(horizontalSpacing), verticalSpacing_(verticalSpacing) {
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
    while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowLayout::addItem(QLayoutItem* item) { items_.append(item); }

QLayoutItem* FlowLayout::takeAt(int index) {
    if (index < 0 || index >= items_.size()) return nullptr;
    return items_.takeAt(index);
}

int FlowLayout::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

QSize FlowLayout::sizeHint() const {
    // Everything on one line.
    int width = 0, height = 0, shown = 0;
    for (const QLayoutItem* item : items_) {
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint();
        width += hint.width() + (shown++ > 0 ? horizontalSpacing_ : 0);
        height = std::max(height, hint.height());
    }
    const QMargins margins = contentsMargins();
    return QSize(width + margins.left() + margins.right(), height + margins.top() + margins.bottom());
}

QSize FlowLayout::minimumSize() const {
    int width = 0;
    for (const QLayoutItem* item : items_)
        if (!item->isEmpty()) width = std::max(width, item->minimumSize().width());
    const QMargins margins = contentsMargins();
    return QSize(width + margins.left() + margins.right(), heightForWidth(width + margins.left() + margins.right()));
}

void FlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool apply) const {
    const QRect area = rect.marginsRemoved(contentsMargins());
    struct Placed {
        QLayoutItem* item;
        int x, width, height;
    };
    QList<Placed> line;
    int y = area.y(), lineHeight = 0;
    // Items of one line share its height, each centred in it.
    auto endLine = [&] {
        if (apply)
            for (const Placed& placed : line)
                placed.item->setGeometry(QRect(placed.x, y + (lineHeight - placed.height) / 2, placed.width, placed.height));
        y += lineHeight + verticalSpacing_;
        line.clear();
        lineHeight = 0;
    };
    int x = area.x();
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) continue;
        const QSize hint = item->sizeHint();
        const int width = std::min(hint.width(), std::max(item->minimumSize().width(), area.width()));
        if (!line.isEmpty() && x + width > area.right() + 1) {
            endLine();
            x = area.x();
        }
        line.append(Placed{item, x, width, hint.height()});
        lineHeight = std::max(lineHeight, hint.height());
        x += width + horizontalSpacing_;
    }
    if (line.isEmpty()) return contentsMargins().top() + contentsMargins().bottom();
    endLine();
    return y - verticalSpacing_ - rect.y() + contentsMargins().bottom();
}

}  // namespace corvane
