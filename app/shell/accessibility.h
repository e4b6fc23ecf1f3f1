// What assistive technology (a screen reader) learns of the windows beyond what Qt tells it.
//
// The glyph buttons are buttons with a press action. Widgets marked decorative in the .ui files
// (the property "decorative": leader lines, dividers, the reference bars whose values their
// labels give) are reported as not showing, so a screen reader passes over them. Every field
// gets its name from its accessibleName in the .ui file, not from its frame's caption.
#pragma once

// Registers the interfaces above; call before the first window is created.
void installAccessibility();
