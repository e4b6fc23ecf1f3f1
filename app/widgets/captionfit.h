// Captions that keep to their labels' text.
//
// The windows are laid out for faces this host does not have exactly; the free stand-ins run a
// pixel or two wider here and there, and taller on a high-density screen. A label that shows one
// line of text is widened to what its caption needs, away from the edge it is aligned to, as a
// label sized to its text would be; a wrapped one grows downwards to hold its lines. So no
// caption is cut.
#pragma once

class QWidget;

void fitCaptions(QWidget *window);
