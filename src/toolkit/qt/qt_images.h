#pragma once

#include <QIcon>
#include <QPixmap>

#include "toolkit/application.h"
#include "toolkit/image.h"

namespace toolkit::qt {

// The icon of an image reference: a named image from the application's file
// for it, a symbol from the icon theme, a file as it is; a named image
// without file or a symbol the theme lacks falls back to the program's own
// drawing of it (qt_drawn_icons.h).
QIcon iconFor(const Application& application, const Image& image);
QPixmap pixmapFor(const Application& application, const Image& image,
                  QSize fallbackSize = {16, 16});

}  // namespace toolkit::qt
