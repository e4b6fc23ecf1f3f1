// What assistive technology (a screen reader, a voice-control tool) learns of the windows beyond
// what Qt tells it, and what it may do to them.
//
// Top-level windows are windows, or dialogs when they are dialogs or modal. The glyph buttons
// are buttons with a press action. Widgets marked decorative in the .ui files (the property
// "decorative": leader lines, dividers, the reference bars whose values their labels give) are
// reported as not showing, so a screen reader passes over them; a widget with the property
// "accessibleRole" has that role; a label with the property "statusLine" is a status bar. Every
// field is named by the label a sighted user sees beside it (its accessibleName in the .ui file
// starts with that label). Buttons, glyphs and fields of a window that a modal window blocks do
// nothing, and read-only fields cannot be edited, through these interfaces either.
#pragma once

// Registers the interfaces above; call before the first window is created.
void installAccessibility();
