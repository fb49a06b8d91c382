#include "model/saved_window.h"

#include "coding/codable.h"

namespace wendrix {

bool operator==(const IWindow& a, const IWindow& b) {
  return a.title == b.title && a.rect == b.rect && a.index == b.index && a.doc == b.doc;
}

coding::Value IWindow::encode() const {
  coding::Dictionary d;
  coding::put(d, "title", title);
  coding::put(d, "rect", rect);
  coding::put(d, "index", index);
  coding::put(d, "doc", doc);
  coding::put(d, "addonState", addonState);
  return d;
}

base::Result<IWindow> IWindow::decode(const coding::Reader& reader) {
  coding::Fields f(reader);
  IWindow w;
  w.title = f.required<std::string>("title");
  w.rect = f.required<Rect>("rect");
  w.index = f.required<std::int64_t>("index");
  w.doc = f.optional<std::string>("doc");
  w.addonState = f.optional<base::Bytes>("addonState");
  return f.finish(std::move(w));
}

}  // namespace wendrix
