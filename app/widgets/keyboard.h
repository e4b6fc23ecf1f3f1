// What makes a window usable from the keyboard alone.
#pragma once

#include <QList>

class QWidget;

// Read-only fields that take the focus with Tab and a click, so a keyboard or screen-reader
// user can reach, select and copy their values; fields that were disabled only to be read-only
// are enabled (they still cannot be edited).
void makeFieldsReachable(const QList<QWidget *> &fields);

// Tab and Shift+Tab visit these widgets in this order.
void setTabChain(const QList<QWidget *> &chain);

// Return and Enter press the focused push button in this window, as Space does (outside a
// dialog Qt gives them no meaning).
void pressButtonsWithReturn(QWidget *window);
