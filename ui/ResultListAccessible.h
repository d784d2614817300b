// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QPointer>

namespace corvane {

class ResultListView;

// The results list as screen readers meet it: a list whose children are its rows, each a list item
// named by its file and result text, described by the file's path and the keys, and offering its two
// actions, "Reveal in File Manager" and "Copy", which press the row's buttons. The list also answers
// as a one-column table, which is how Qt tells it of rows inserted or the list filled anew. Rows'
// interfaces are made when first asked for and dropped when the list is filled anew.
class ResultListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ResultListAccessible(ResultListView* view);
    ~ResultListAccessible() override;

    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::Role role() const override { return QAccessible::List; }
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // The table view of the list: one column, no headers, no selection.
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override { return 0; }
    QList<QAccessibleInterface*> selectedCells() const override { return {}; }
    QString columnDescription(int) const override { return {}; }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return 0; }
    int columnCount() const override { return 1; }
    int rowCount() const override { return childCount(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override { return {}; }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int) const override { return false; }
    bool selectRow(int) override { return false; }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

private:
    ResultListView* view() const;
    void forgetRows();

    mutable QHash<int, QAccessible::Id> rows_;
};

}  // namespace corvane
