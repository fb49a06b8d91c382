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

std::optional<IWindow> IWindow::decodeStored(const coding::PlistObject& object) {
  static constexpr std::string_view kKeys[] = {"title", "rect", "index", "doc", "addonState"};
  std::optional<coding::PlistObject> found[5];
  if (!object.members(kKeys, found)) return std::nullopt;
  const auto& [title, rect, index, doc, addonState] = found;
  IWindow w;
  if (!title || !title->string(w.title)) return std::nullopt;
  const auto rectValue = rect ? Rect::decodeStored(*rect) : std::nullopt;
  if (!rectValue) return std::nullopt;
  w.rect = *rectValue;
  const auto indexValue = index ? index->int64() : std::nullopt;
  if (!indexValue) return std::nullopt;
  w.index = *indexValue;
  if (!coding::optionalString(doc, w.doc)) return std::nullopt;
  if (addonState) {
    w.addonState = addonState->bytes();
    if (!w.addonState) return std::nullopt;
  }
  return w;
}

}  // namespace wendrix
