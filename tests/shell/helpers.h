// Helpers for window tests: answering message boxes, failing on unexpected ones, and clicking
// labels.
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
    // How many answerers are alive: a box that opens while there is none was not expected.
    static inline int alive = 0;

    MessageBoxAnswerer()
    {
        ++alive;
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
    ~MessageBoxAnswerer() override { --alive; }
    SeenMessage seen;

private:
    QTimer m_timer;
};

// A message box that no test expects would wait for a click that never comes, and the test would
// hang until CTest's limit. From the first call on, such a box fails the running test at once,
// with its text, and is closed so the test goes on to its end.
inline void failOnUnexpectedBoxes()
{
    static QTimer *watchdog = nullptr;
    if (watchdog)
        return;
    watchdog = new QTimer(qApp);
    QObject::connect(watchdog, &QTimer::timeout, qApp, [] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || MessageBoxAnswerer::alive > 0 || box->property("answered").toBool())
            return;
        box->setProperty("answered", true);
        const QByteArray text = "an unexpected message box: " + box->text().toUtf8();
        QTest::qFail(text.constData(), __FILE__, __LINE__);
        if (QAbstractButton *ok = box->button(QMessageBox::Ok))
            ok->click();
        else
            box->reject();
    });
    watchdog->start(20);
}

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
