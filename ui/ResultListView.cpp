// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultListView.h"

#include "ui/ResultListModel.h"

#include <QAccessible>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
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
    connect(&model_, &QAbstractItemModel::modelReset, this, [this, countChanged] {
        followsNewest_ = true;  // a new run or a refiltered list starts at its newest row
        countChanged();
    });
    // Rows arriving only widen the range; the value moves when the user (or the list itself) scrolls.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { followsNewest_ = value >= verticalScrollBar()->maximum(); });
}

QSize ResultListView::sizeHint() const { return QSize(QListView::sizeHint().width(), 260); }

QSize ResultListView::minimumSizeHint() const {
    const int frame = 2 * frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    // Two rows of a one-line result.
    return QSize(delegate_.minimumRowWidth(font()) + frame, 2 * delegate_.oneLineRowHeight(font()) + 2 * frameWidth());
}

void ResultListView::scheduleScrollToEnd() {
    // Rows may arrive many at a time; laying the list out once per turn of the loop keeps a long run fast.
    if (scrollPending_ || !followsNewest_) return;
    scrollPending_ = true;
    QTimer::singleShot(0, this, [this] {
        scrollPending_ = false;
        const int count = model_.rowCount();
        if (count > 0 && followsNewest_) scrollTo(model_.index(count - 1), QAbstractItemView::PositionAtBottom);
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
        if (modifiers == Qt::NoModifier && (key == Qt::Key_Left || key == Qt::Key_Right))
            return setFocusedButton(key == Qt::Key_Left ? ResultRowDelegate::Button::reveal : ResultRowDelegate::Button::copy);
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

void ResultListView::setFocusedButton(ResultRowDelegate::Button button) {
    if (delegate_.focusedButton() == button) return;
    delegate_.setFocusedButton(button);
    const QModelIndex current = currentIndex();
    viewport()->update(visualRect(current));
    // Enter now takes the other action: the row's description says so.
    QAccessibleEvent changed(this, QAccessible::DescriptionChanged);
    changed.setChild(current.row());
    QAccessible::updateAccessibility(&changed);
}

QString ResultListView::rowDescription(int row) const {
    const QString path = model_.index(row).data(ResultListModel::FilePathRole).toString();
    const QString enter = QString::fromLatin1(delegate_.focusedButton() == ResultRowDelegate::Button::copy
                                                  ? ResultRowDelegate::copyTitle
                                                  : ResultRowDelegate::revealTitle);
    return path + QStringLiteral(". Enter: ") + enter +
           QStringLiteral(". Ctrl+C: Copy. Left and Right: choose Enter's action. Menu key: both actions.");
}

void ResultListView::focusInEvent(QFocusEvent* event) {
    const bool hadCurrent = currentIndex().isValid();
    QListView::focusInEvent(event);
    // Coming in from the keyboard, the focus mark must be in sight: on the current row, or, as the list
    // has no selection, on the topmost row in view (the first one the reader sees, without a jump; the
    // item view would take the first row of all, wherever the list is scrolled).
    const Qt::FocusReason reason = event->reason();
    if ((reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason) &&
        model_.rowCount() > 0) {
        if (!hadCurrent) {
            const QModelIndex top = indexAt(QPoint(0, 0));
            setCurrentIndex(top.isValid() ? top : model_.index(0));
        }
        scrollTo(currentIndex());
    }
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
