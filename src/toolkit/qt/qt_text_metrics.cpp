#include "toolkit/qt/qt_text_metrics.h"

#include <QApplication>
#include <QFont>
#include <QTextDocument>

namespace toolkit::qt {

Size QtTextMetrics::measure(const std::string& text, const Font& font, double width) const {
  QTextDocument document;
  QFont qfont = QApplication::font();
  if (font.pointSize > 0) qfont.setPointSizeF(font.pointSize);
  qfont.setBold(font.bold);
  document.setDefaultFont(qfont);
  document.setDocumentMargin(0);
  document.setPlainText(QString::fromStdString(text));
  if (width > 0) document.setTextWidth(width);
  const QSizeF size = document.size();
  return {size.width(), size.height()};
}

}  // namespace toolkit::qt
