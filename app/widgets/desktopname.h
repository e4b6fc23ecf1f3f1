// The name the window manager and the taskbar show for a window whose caption is empty.
//
// The windows draw their own captions (or none), so their captions stay empty; an empty title
// would make Qt hand the desktop the program's file name instead. Installed on a window, this
// gives the desktop the name while the caption is empty, and the caption whenever it is set.
#pragma once

#include <QObject>
#include <QString>

class QWidget;

class DesktopName : public QObject
{
public:
    DesktopName(QWidget *window, QString name);

    const QString &name() const { return m_name; }
    // Hands the desktop the name or the caption now.
    void apply();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QWidget *m_window;
    QString m_name;
};
