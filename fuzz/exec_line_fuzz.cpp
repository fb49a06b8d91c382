// An Exec value as written in a desktop entry: parsed (string escapes, then
// quoting and field codes) and expanded for no document, local files and
// URLs, as a launch would.

#include <cstddef>
#include <cstdint>

#include "base/url.h"
#include "fuzz_input.h"
#include "platform/bundle/linux/exec_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto exec = platform::ExecLine::parse(fuzz::asText(data, size));
  if (!exec) return 0;
  (void)exec->program();
  (void)exec->documents();

  platform::ExecLine::Context context;
  context.icon = "accessories-text-editor";
  context.name = "Editor 'quoted' \"name\"";
  context.location = "/usr/share/applications/my editor.desktop";
  (void)exec->expand(context);
  context.documents = {base::Url::fromFilePath("/home/user/a b$c.txt")};
  (void)exec->expand(context);
  context.documents = {base::Url::fromFilePath("/tmp/1"), base::Url::fromFilePath("/tmp/2"),
                       *base::Url::parse("sftp://host/path")};
  (void)exec->expand(context);
  return 0;
}
