// Helpers for window tests: answering message boxes and clicking labels.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

struct SeenMessage
{
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int count = 0;
};

// Arms a polling timer that presses OK on every message box that opens until the returned
// record goes out of scope; the box's text, title and icon are recorded.
class MessageBoxAnswerer : public QObject
{
public:
    MessageBoxAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                if (box->property("answered").toBool())
                    return;
                box->setProperty("answered", true);
                seen.text = box->text();
                seen.title = box->windowTitle();
                seen.icon = box->icon();
                ++seen.count;
                box->button(QMessageBox::Ok)->click();
            }
        });
        m_timer.start(10);
    }
    SeenMessage seen;

private:
    QTimer m_timer;
};

// A window's control by its name; a missing one ends the test program, naming it.
template<typename T> T *control(const QWidget *window, const char *name)
{
    auto *found = window->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

inline void clickLabel(QWidget *label, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mousePress(label, button, {}, label->rect().center());
    QTest::mouseRelease(label, button, {}, label->rect().center());
}
