// The faces the windows ask for by name. Debian's fonts-wine ships free Tahoma and MS Sans Serif
// faces in a folder fontconfig does not scan; register them when they are there.
#pragma once

void registerFonts();
