// A glyph on the main window's logo strip that acts as a button: the minimise triangle and the
// close cross.
//
// It looks like the label it replaces and takes a click of the primary button only (a press
// and a release on the glyph; other buttons do nothing, as a right-click on a close button
// does). It also takes the keyboard focus with Tab and is pressed with Space or Enter, and
// assistive technology sees a button with a press action (accessibility.h).
#pragma once

#include <QLabel>

class GlyphButton : public QLabel
{
    Q_OBJECT

public:
    explicit GlyphButton(QWidget *parent = nullptr);

    // Presses the button as a click does.
    void press() { emit clicked(); }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};
