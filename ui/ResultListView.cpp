// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultListView.h"

#include "ui/ResultListModel.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QStyle>
#include <QTimer>

#include <utility>

namespace corvane {

ResultListView::ResultListView(ResultListModel& model, QWidget* parent)
    : QListView(parent), model_(model), delegate_(model) {
    setModel(&model_);
    setItemDelegate(&delegate_);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Rows wrap to the viewport's width: a scroll bar that came and went with the rows' heights would
    // change that width and lay the rows out again, back and forth.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setUniformItemSizes(false);
    setMouseTracking(true);
    setMinimumHeight(200);
    setFocusPolicy(Qt::StrongFocus);
    // Row heights follow the width, since the result texts wrap.
    setResizeMode(QListView::Adjust);
    setAccessibleName(QStringLiteral("Results"));
    setAccessibleDescription(
        QStringLiteral("Up and Down choose a row; Enter reveals its file in the file manager; Ctrl+C copies the row; "
                       "Left and Right choose Reveal or Copy; the Menu key opens both."));

    auto countChanged = [this] {
        const int count = model_.rowCount();
        if (count != lastCount_) {
            lastCount_ = count;
            scheduleScrollToEnd();
        }
    };
    connect(&model_, &QAbstractItemModel::rowsInserted, this, countChanged);
    connect(&model_, &QAbstractItemModel::modelReset, this, countChanged);
}

QSize ResultListView::sizeHint() const { return QSize(QListView::sizeHint().width(), 260); }

QSize ResultListView::minimumSizeHint() const {
    const int frame = 2 * frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return QSize(delegate_.minimumRowWidth(font()) + frame, 200);
}

void ResultListView::scheduleScrollToEnd() {
    // Rows may arrive many at a time; laying the list out once per turn of the loop keeps a long run fast.
    if (scrollPending_) return;
    scrollPending_ = true;
    QTimer::singleShot(0, this, [this] {
        scrollPending_ = false;
        const int count = model_.rowCount();
        if (count > 0) scrollTo(model_.index(count - 1), QAbstractItemView::PositionAtBottom);
    });
}

QStyleOptionViewItem ResultListView::rowOption(const QModelIndex& index) const {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = visualRect(index);
    return option;
}

ResultRowDelegate::Button ResultListView::buttonAt(QPoint position, QModelIndex* index) const {
    *index = indexAt(position);
    if (!index->isValid()) return ResultRowDelegate::Button::none;
    return delegate_.buttonAt(rowOption(*index), *index, position);
}

void ResultListView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    QModelIndex index;
    pressedButton_ = buttonAt(event->position().toPoint(), &index);
    pressedRow_ = index;
    delegate_.setPressed(index, pressedButton_);
    if (index.isValid()) viewport()->update(visualRect(index));
}

void ResultListView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    QModelIndex index;
    const auto button = buttonAt(event->position().toPoint(), &index);
    const auto pressedButton = std::exchange(pressedButton_, ResultRowDelegate::Button::none);
    const QPersistentModelIndex pressedRow = std::exchange(pressedRow_, QPersistentModelIndex());
    delegate_.setPressed(QModelIndex(), ResultRowDelegate::Button::none);
    viewport()->update();
    // A click is a press and a release on the same button of the same row.
    if (button == ResultRowDelegate::Button::none || button != pressedButton || !index.isValid() || index != pressedRow)
        return;
    if (button == ResultRowDelegate::Button::reveal) emit revealRequested(index.row());
    if (button == ResultRowDelegate::Button::copy) emit copyRequested(index.row());
}

void ResultListView::mouseMoveEvent(QMouseEvent* event) {
    QModelIndex index;
    const auto button = buttonAt(event->position().toPoint(), &index);
    delegate_.setHovered(index, button);
    viewport()->setCursor(button == ResultRowDelegate::Button::none ? Qt::ArrowCursor : Qt::PointingHandCursor);
    viewport()->update();
}

void ResultListView::mouseDoubleClickEvent(QMouseEvent* event) { mousePressEvent(event); }

void ResultListView::press(int row, ResultRowDelegate::Button button) {
    if (button == ResultRowDelegate::Button::reveal) emit revealRequested(row);
    if (button == ResultRowDelegate::Button::copy) emit copyRequested(row);
}

void ResultListView::keyPressEvent(QKeyEvent* event) {
    const QModelIndex current = currentIndex();
    if (current.isValid()) {
        if (event->matches(QKeySequence::Copy)) return press(current.row(), ResultRowDelegate::Button::copy);
        const int key = event->key();
        const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
        if (modifiers == Qt::NoModifier && (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space))
            return press(current.row(), delegate_.focusedButton());
        if (modifiers == Qt::NoModifier && (key == Qt::Key_Left || key == Qt::Key_Right)) {
            delegate_.setFocusedButton(key == Qt::Key_Left ? ResultRowDelegate::Button::reveal : ResultRowDelegate::Button::copy);
            viewport()->update(visualRect(current));
            return;
        }
        if ((key == Qt::Key_Menu && modifiers == Qt::NoModifier) || (key == Qt::Key_F10 && modifiers == Qt::ShiftModifier)) {
            scrollTo(current);
            return showRowMenu(current, visualRect(current).center());
        }
    }
    QListView::keyPressEvent(event);
}

void ResultListView::contextMenuEvent(QContextMenuEvent* event) {
    const QModelIndex index = event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : currentIndex();
    if (!index.isValid()) return;
    setCurrentIndex(index);
    showRowMenu(index, event->reason() == QContextMenuEvent::Mouse ? event->pos() : visualRect(index).center());
}

void ResultListView::showRowMenu(const QModelIndex& index, QPoint position) {
    QMenu menu(this);
    menu.setAccessibleName(index.data().toString());
    const int row = index.row();
    QAction* reveal = menu.addAction(QString::fromLatin1(ResultRowDelegate::revealTitle));
    QAction* copy = menu.addAction(QString::fromLatin1(ResultRowDelegate::copyTitle));
    copy->setShortcut(QKeySequence::Copy);
    QAction* chosen = menu.exec(viewport()->mapToGlobal(position));
    if (chosen == reveal) emit revealRequested(row);
    if (chosen == copy) emit copyRequested(row);
}

void ResultListView::resizeEvent(QResizeEvent* event) {
    delegate_.setRowWidth(viewport()->width());
    QListView::resizeEvent(event);
}

bool ResultListView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::Resize && viewport()->width() != delegate_.rowWidth()) {
        delegate_.setRowWidth(viewport()->width());
        scheduleDelayedItemsLayout();
    }
    return QListView::viewportEvent(event);
}

void ResultListView::focusInEvent(QFocusEvent* event) {
    QListView::focusInEvent(event);
    // The list has no selection, so the focus starts on the first row rather than on none.
    if (!currentIndex().isValid() && model_.rowCount() > 0) setCurrentIndex(model_.index(0));
    viewport()->update();
}

void ResultListView::focusOutEvent(QFocusEvent* event) {
    QListView::focusOutEvent(event);
    viewport()->update();
}

void ResultListView::leaveEvent(QEvent* event) {
    delegate_.setHovered(QModelIndex(), ResultRowDelegate::Button::none);
    viewport()->unsetCursor();
    viewport()->update();
    QListView::leaveEvent(event);
}

}  // namespace corvane
