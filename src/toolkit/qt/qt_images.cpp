#include "toolkit/qt/qt_images.h"

#include <QImage>

#include "toolkit/qt/qt_drawn_icons.h"

namespace toolkit::qt {

QIcon iconFor(const Application& application, const Image& image) {
  switch (image.kind) {
    case Image::Kind::named: {
      auto file = application.imageFile(image.name);
      return file ? QIcon(QString::fromStdString(*file)) : drawnIcon(image.name);
    }
    case Image::Kind::symbol: {
      // The desktop's theme first; the program's drawing where it has none.
      QIcon themed = QIcon::fromTheme(QString::fromStdString(image.name));
      return themed.isNull() ? drawnIcon(image.name) : themed;
    }
    case Image::Kind::file:
      return QIcon(QString::fromStdString(image.name));
    case Image::Kind::pixels: {
      if (!image.bitmap || image.bitmap->empty()) return {};
      const auto& pixels = *image.bitmap;
      QImage copy(reinterpret_cast<const uchar*>(pixels.data()), pixels.width(), pixels.height(),
                  pixels.strideBytes(), QImage::Format_ARGB32_Premultiplied);
      return QIcon(QPixmap::fromImage(copy.copy()));
    }
  }
  return {};
}

QPixmap pixmapFor(const Application& application, const Image& image, QSize fallbackSize) {
  QSize size = image.size.width > 0
                   ? QSize(static_cast<int>(image.size.width), static_cast<int>(image.size.height))
                   : fallbackSize;
  return iconFor(application, image).pixmap(size);
}

}  // namespace toolkit::qt
