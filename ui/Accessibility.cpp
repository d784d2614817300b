// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/Accessibility.h"

#include "ui/ResultListAccessible.h"
#include "ui/ResultListView.h"

#include <QAccessibleWidget>
#include <QLabel>

namespace corvane::accessibility {
namespace {

constexpr const char* roleProperty = "corvaneAccessibleRole";

// A label in another role than static text; its name is its text, as for any label.
class LabelAccessible : public QAccessibleWidget {
public:
    LabelAccessible(QLabel* label, QAccessible::Role role) : QAccessibleWidget(label, role) {}

    QString text(QAccessible::Text which) const override {
        if (which == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const QLabel*>(widget())->text();
        return QAccessibleWidget::text(which);
    }
};

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (auto* list = qobject_cast<ResultListView*>(object)) return new ResultListAccessible(list);
    if (auto* label = qobject_cast<QLabel*>(object); label && label->property(roleProperty).isValid())
        return new LabelAccessible(label, static_cast<QAccessible::Role>(label->property(roleProperty).toInt()));
    return nullptr;
}

}  // namespace

void install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    (void)installed;
}

void setRole(QLabel& label, QAccessible::Role role) { label.setProperty(roleProperty, static_cast<int>(role)); }

}  // namespace corvane::accessibility
