// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/ResultRowDelegate.h"

#include <QListView>

namespace corvane {

class ResultListModel;

// The results list: one painted row per visible result, no selection, at least 200 and ideally 260
// pixels high. Whenever the number of rows changes it scrolls to the last row, bottom-aligned, once
// per turn of the event loop however many rows arrived. Clicks on a row's buttons come out as
// signals with the row's number in the model.
//
// From the keyboard: the list takes the focus with Tab and marks its current row (Up/Down move it);
// Left/Right move between the row's two actions, Enter or Space presses the marked one, the copy
// shortcut copies the row, and the Menu key, Shift+F10 or a right click open a menu with both
// actions. Screen readers read each row's name, text and these keys (the model's accessible roles).
class ResultListView : public QListView {
    Q_OBJECT
public:
    ResultListView(ResultListModel& model, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    ResultRowDelegate& rowDelegate() { return delegate_; }
    // The option a row is drawn with (its rectangle in viewport coordinates included).
    QStyleOptionViewItem rowOption(const QModelIndex& index) const;

signals:
    void revealRequested(int row);
    void copyRequested(int row);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    // The standard copy shortcut copies the row that has the keyboard focus, as its Copy button does.
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool viewportEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void scheduleScrollToEnd();
    void press(int row, ResultRowDelegate::Button button);
    void showRowMenu(const QModelIndex& index, QPoint position);
    ResultRowDelegate::Button buttonAt(QPoint position, QModelIndex* index) const;

    ResultListModel& model_;
    ResultRowDelegate delegate_;
    int lastCount_ = 0;
    bool scrollPending_ = false;
    QPersistentModelIndex pressedRow_;
    ResultRowDelegate::Button pressedButton_ = ResultRowDelegate::Button::none;
};

}  // namespace corvane
