#include "widgets/modality.h"

#include <QApplication>
#include <QWidget>

namespace {

const QWidget *ownerWindow(const QWidget *window)
{
    return window->parentWidget() ? window->parentWidget()->window() : nullptr;
}

// True if the window is the owner itself or owned by it, at any depth.
bool ownedBy(const QWidget *window, const QWidget *owner)
{
    for (; window; window = ownerWindow(window)) {
        if (window == owner)
            return true;
    }
    return false;
}

const QWidget *family(const QWidget *window)
{
    while (const QWidget *owner = ownerWindow(window))
        window = owner;
    return window;
}

} // namespace

bool isBlockedByModalWindow(const QWidget *widget)
{
    const QWidget *window = widget->window();
    const auto windows = QApplication::topLevelWidgets();
    for (const QWidget *modal : windows) {
        if (!modal->isVisible() || modal->windowModality() == Qt::NonModal ||
            ownedBy(window, modal))
            continue;
        if (modal->windowModality() == Qt::ApplicationModal || family(modal) == family(window))
            return true;
    }
    return false;
}
