// The program's own images, read by the built-in PNG reader alone.
#pragma once

#include <QPixmap>
#include <QString>

// Reading an image by its contents makes Qt load every image-format plug-in (GIF, ICO, JPEG ...)
// to ask each whether it knows the data, a few milliseconds and a megabyte of libraries at
// start-up; the program's images are all PNG, so only that reader is used. A null pixmap if the
// file is not a PNG image.
QPixmap readPng(const QString &path);
