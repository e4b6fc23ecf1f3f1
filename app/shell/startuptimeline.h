// The program's start-up, phase by phase, for measuring it: with ORVANE_STARTUP_TIMELINE set in
// the environment, each mark prints to standard error the time since the process was started
// and the resident memory then; without it a mark costs one test of a flag.
#pragma once

class QWidget;

void startupMark(const char *phase);
// Marks the window's first paint, once.
void markFirstPaint(QWidget *window);
