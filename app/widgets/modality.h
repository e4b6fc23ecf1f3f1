// Whether a modal window keeps input from a widget's window.
#pragma once

class QWidget;

// True while a modal window that is showing keeps mouse and keyboard input from the widget's
// window, as the windowing system does: an application-modal window blocks every window but
// itself and those it owns; a window-modal one blocks the other windows of its owner's family.
bool isBlockedByModalWindow(const QWidget *widget);
