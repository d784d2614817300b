// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/ResultListAccessible.h"

#include "ui/ResultListModel.h"
#include "ui/ResultListView.h"

#include <QWindow>

namespace corvane {
namespace {

// One row of the results list. It refers to its row by number; the list drops it when the numbers
// change meaning (the list filled anew).
class RowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    RowAccessible(ResultListView* view, int row) : view_(view), row_(row) {}

    bool isValid() const override { return view_ && row_ < view_->model()->rowCount(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    void setText(QAccessible::Text, const QString&) override {}

    QString text(QAccessible::Text which) const override {
        if (!isValid()) return {};
        switch (which) {
            case QAccessible::Name: return index().data(Qt::AccessibleTextRole).toString();
            case QAccessible::Description: return view_->rowDescription(row_);
            default: return {};
        }
    }

    QRect rect() const override {
        if (!isValid()) return {};
        const QRect shown = view_->visualRect(index());
        return QRect(view_->viewport()->mapToGlobal(shown.topLeft()), shown.size());
    }

    QAccessible::State state() const override {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.focused = view_->hasFocus() && view_->currentIndex() == index();
        const QRect shown = view_->visualRect(index());
        state.offscreen = state.invisible = !view_->isVisible() || !view_->viewport()->rect().intersects(shown);
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {revealTitle(), copyTitle()}; }
    void doAction(const QString& name) override {
        if (!isValid()) return;
        if (name == revealTitle()) view_->press(row_, ResultRowDelegate::Button::reveal);
        if (name == copyTitle()) view_->press(row_, ResultRowDelegate::Button::copy);
    }
    QStringList keyBindingsForAction(const QString& name) const override {
        if (name == copyTitle()) return {QKeySequence(QKeySequence::Copy).toString()};
        return {};
    }

private:
    static QString revealTitle() { return QString::fromLatin1(ResultRowDelegate::revealTitle); }
    static QString copyTitle() { return QString::fromLatin1(ResultRowDelegate::copyTitle); }
    QModelIndex index() const { return view_->model()->index(row_, 0); }

    QPointer<ResultListView> view_;
    int row_;
};

}  // namespace

ResultListAccessible::ResultListAccessible(ResultListView* view) : QAccessibleWidget(view, QAccessible::List) {}

ResultListAccessible::~ResultListAccessible() { forgetRows(); }

ResultListView* ResultListAccessible::view() const { return static_cast<ResultListView*>(widget()); }

void* ResultListAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

int ResultListAccessible::childCount() const { return view()->model()->rowCount(); }

QAccessibleInterface* ResultListAccessible::child(int index) const {
    if (index < 0 || index >= childCount()) return nullptr;
    if (const auto found = rows_.constFind(index); found != rows_.constEnd()) return QAccessible::accessibleInterface(*found);
    auto* row = new RowAccessible(view(), index);
    rows_.insert(index, QAccessible::registerAccessibleInterface(row));
    return row;
}

int ResultListAccessible::indexOfChild(const QAccessibleInterface* child) const {
    for (auto it = rows_.constBegin(); it != rows_.constEnd(); ++it)
        if (QAccessible::accessibleInterface(it.value()) == child) return it.key();
    return -1;
}

QAccessibleInterface* ResultListAccessible::childAt(int x, int y) const {
    const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? child(index.row()) : nullptr;
}

QAccessibleInterface* ResultListAccessible::focusChild() const {
    const QModelIndex current = view()->currentIndex();
    return view()->hasFocus() && current.isValid() ? child(current.row()) : nullptr;
}

QAccessibleInterface* ResultListAccessible::cellAt(int row, int column) const { return column == 0 ? child(row) : nullptr; }

void ResultListAccessible::modelChange(QAccessibleTableModelChangeEvent* event) {
    // Texts are read afresh each time; rows are only ever added at the end; anything else renumbers them.
    if (event->modelChangeType() == QAccessibleTableModelChangeEvent::DataChanged) return;
    const bool appended = event->modelChangeType() == QAccessibleTableModelChangeEvent::RowsInserted &&
                          event->firstRow() >= childCount() - (event->lastRow() - event->firstRow() + 1);
    if (!appended) forgetRows();
}

void ResultListAccessible::forgetRows() {
    for (const QAccessible::Id id : std::as_const(rows_)) QAccessible::deleteAccessibleInterface(id);
    rows_.clear();
}

}  // namespace corvane
