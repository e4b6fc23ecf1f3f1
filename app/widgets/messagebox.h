// The one kind of message box the program shows: modal, a text, a title, a single OK button and
// at most one icon.
#pragma once

#include "core/messages.h"

class QWidget;

void showMessage(QWidget *parent, const QString &text, const QString &title = appTitle(),
                 MessageIcon icon = MessageIcon::None);
