// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ui/ResultRowDelegate.h"

#include <QListView>

namespace corvane {

class ResultListModel;

// The results list: one painted row per listed result, no selection, ideally 260 pixels high, at
// least two rows. It follows the newest row while the view is at the bottom: when rows arrive it
// scrolls to the last one, bottom-aligned, once per turn of the event loop however many arrived; once
// the user scrolls up it stays where it is, until they come back to the bottom (or a new run or a
// refiltering starts afresh). Clicks on a row's buttons come out as signals with the row's number in
// the model.
//
// From the keyboard: Tab into the list marks its current row (the topmost one in view, when none is
// current yet) and scrolls it into view; Up/Down move it; Left/Right move between the row's two
// actions, Enter or Space presses the marked one, the copy shortcut copies the row, and the Menu key,
// Shift+F10 or a right click open a menu with both actions. Screen readers get each row as a list item
// with its name and text, a description with the file's path and the keys (naming the action Enter
// takes), and the two actions themselves.
class ResultListView : public QListView {
    Q_OBJECT
public:
    ResultListView(ResultListModel& model, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    ResultRowDelegate& rowDelegate() { return delegate_; }
    const ResultRowDelegate& rowDelegate() const { return delegate_; }
    // The option a row is drawn with (its rectangle in viewport coordinates included).
    QStyleOptionViewItem rowOption(const QModelIndex& index) const;

    // Whether the list follows the newest row (the view is at the bottom).
    bool followsNewest() const { return followsNewest_; }
    // Presses one of the row's buttons, as a click would.
    void press(int row, ResultRowDelegate::Button button);
    // The row's description for screen readers: the file's path, then the keys, Enter's action first.
    QString rowDescription(int row) const;

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
    void setFocusedButton(ResultRowDelegate::Button button);
    void showRowMenu(const QModelIndex& index, QPoint position);
    ResultRowDelegate::Button buttonAt(QPoint position, QModelIndex* index) const;

    ResultListModel& model_;
    ResultRowDelegate delegate_;
    int lastCount_ = 0;
    bool scrollPending_ = false;
    bool followsNewest_ = true;
    QPersistentModelIndex pressedRow_;
    ResultRowDelegate::Button pressedButton_ = ResultRowDelegate::Button::none;
};

}  // namespace corvane
