// Moving a window without a title bar by dragging one of its controls.
//
// A press on a handle (any mouse button) remembers the grab point in twips within that control;
// each move then shifts the window by the pointer's offset from it, so the grabbed point stays
// under the pointer. A release on a handle ends the drag.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

class WindowDrag : public QObject
{
    Q_OBJECT

public:
    explicit WindowDrag(QWidget *window);

    // Handles take presses, moves and releases; extra move sources (the window itself) take
    // moves only.
    void addHandle(QWidget *handle);
    void addMoveSource(QWidget *source);

    bool dragging() const { return m_dragging; }
    int dragStartX() const { return m_dragStartX; }
    int dragStartY() const { return m_dragStartY; }

    // The three steps, with positions in twips relative to the control that got the event.
    void press(float x, float y);
    void move(float x, float y);
    void release();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QPointer<QWidget> m_window;
    QList<QObject *> m_handles;
    bool m_dragging = false;
    int m_dragStartX = 0;
    int m_dragStartY = 0;
};
