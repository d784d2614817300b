#include "ui/ResultListView.h"

#include "ui/ResultListModel.h"

#include <QKeyEvent>
#include <QMouseEvent>
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
    setUniformItemSizes(false);
    setMouseTracking(true);
    setMinimumHeight(200);
    setAccessibleName(QStringLiteral("Results"));

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

QSize ResultListView::minimumSizeHint() const { return QSize(QListView::minimumSizeHint().width(), 200); }

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

void ResultListView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy) && currentIndex().isValid()) {
        emit copyRequested(currentIndex().row());
        return;
    }
    QListView::keyPressEvent(event);
}

void ResultListView::leaveEvent(QEvent* event) {
    delegate_.setHovered(QModelIndex(), ResultRowDelegate::Button::none);
    viewport()->unsetCursor();
    viewport()->update();
    QListView::leaveEvent(event);
}

}  // namespace corvane
