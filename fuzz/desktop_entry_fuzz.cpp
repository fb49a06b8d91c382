// A desktop entry file as application lookups read it: parsed as an
// application (in a locale with every fallback step), turned into its bundle,
// and its Exec line expanded for no document, one file and two URLs, as a
// launch would.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/url.h"
#include "fuzz_input.h"
#include "platform/bundle/linux/desktop_applications.h"
#include "platform/bundle/linux/desktop_bundle_provider.h"
#include "platform/bundle/linux/exec_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string path = "/usr/share/applications/org.example.Fuzz.desktop";
  auto app = platform::parseDesktopApplication(fuzz::asText(data, size), path, "org.example.Fuzz",
                                               "de_AT.UTF-8@euro");
  if (!app) return 0;
  (void)app->installed();
  (void)platform::DesktopBundleProvider::bundleOf(*app);
  if (!app->exec) return 0;

  platform::ExecLine::Context context;
  context.icon = app->icon;
  context.name = app->name;
  context.location = path;
  (void)app->exec->expand(context);
  context.documents = {base::Url::fromFilePath("/home/user/a b.txt")};
  (void)app->exec->expand(context);
  context.documents = {*base::Url::parse("https://example.com/x?y=1"),
                       base::Url::fromFilePath("/tmp/c")};
  (void)app->exec->expand(context);
  return 0;
}
