// The faces the windows ask for by name. Debian's fonts-wine ships free Tahoma and MS Sans Serif
// faces in a folder fontconfig does not scan; register them when they are there.
//
// MS Sans Serif is a bitmap face: on a screen with more than one device pixel to a pixel it would
// be drawn at its own size, tiny glyphs at double spacing. There, its place goes to the scalable
// Tahoma (of about its width), or DejaVu Sans where Tahoma is missing.
#pragma once

enum class Faces
{
    All,
    ScalableOnly
};

void registerFonts(Faces faces);
