// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAccessible>

class QLabel;

namespace corvane::accessibility {

// What the window tells screen readers beyond Qt's own interfaces: the results list as a list of rows
// with their two actions (ResultListAccessible), and labels that are more than static text (the
// "Results" heading, the status area's notices). install() registers these with Qt once per process;
// it is safe to call again, from the UI thread.
void install();

// Gives a label the role screen readers present it with (a heading, a notification). Set it when the
// label is made, before its text: setting a text tells screen readers, which asks for the interface.
void setRole(QLabel& label, QAccessible::Role role);

}  // namespace corvane::accessibility
