// Writes seed inputs for the fuzz targets as the program's own encoders
// produce them: the user-defaults file the stores write, the stored layout
// and settings blobs, an export file, a settings file, telemetry archives.
// Run by hand after a format change: fuzz_make_seeds fuzz/corpus
// (hand-written seeds, such as desktop entries, are kept as files there).

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "base/url.h"
#include "coding/plist.h"
#include "model/json_coders.h"
#include "model/layout.h"
#include "model/shortcut.h"
#include "platform/bundle/fake/fake_bundle_provider.h"
#include "platform/defaults/file_user_defaults.h"
#include "platform/defaults/memory_user_defaults.h"
#include "platform/panels/fake/fake_file_panels.h"
#include "storage/defaults_storage.h"
#include "storage/layout_transfer.h"
#include "telemetry/context/history_info.h"
#include "telemetry/core/archive.h"
#include "telemetry/core/sdk_user_defaults.h"
#include "telemetry/model/custom_properties.h"
#include "telemetry/model/device.h"
#include "telemetry/model/start_service_log.h"
#include "telemetry/schema/log_conversion.h"

namespace fs = std::filesystem;
using namespace wendrix;

namespace {

fs::path gOut;

void write(const std::string& target, const std::string& name, const std::string& bytes) {
  const fs::path folder = gOut / target;
  fs::create_directories(folder);
  std::ofstream(folder / name, std::ios::binary) << bytes;
  std::printf("%s/%s (%zu bytes)\n", target.c_str(), name.c_str(), bytes.size());
}

void write(const std::string& target, const std::string& name, const base::Bytes& bytes) {
  write(target, name, std::string(bytes.begin(), bytes.end()));
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Layout> sampleLayouts() {
  IWindow editor;
  editor.title = "notes.txt — Editor";
  editor.rect = Rect{10, 20, 800, 600.5};
  editor.doc = "file:///home/user/notes.txt";
  editor.addonState = base::Bytes{1, 2, 3};
  IWindow second = editor;
  second.title = "Untitled";
  second.index = 1;
  second.doc.reset();
  second.addonState.reset();

  IApp app;
  app.bundleId = "org.gnome.TextEditor";
  app.bundleURL = base::Url::parse("file:///usr/share/applications/org.gnome.TextEditor.desktop");
  app.windows = {editor, second};
  app.mainWindow = editor;
  IApp unnamed;
  unnamed.bundleURL = base::Url::parse("file:///opt/tool/bin/tool");

  Layout work = Layout::initWithApps("Work", {app, unnamed});
  Layout home;
  home.name = "Home";
  home.apps = {app};
  return {work, home};
}

AppSettingsMap sampleSettings() {
  AppSettingsMap settings;
  settings["org.gnome.TextEditor"].newWindowShortcut = IShortcut{45, kMaskCommand | kMaskShift};
  settings["code"] = IAppSettings{};
  return settings;
}

std::shared_ptr<tlm::TLMDevice> sampleDevice() {
  auto device = std::make_shared<tlm::TLMDevice>();
  device->sdkName = "daraveved.linux";
  device->sdkVersion = "4.1.0";
  device->model = "X1";
  device->oemName = "LENOVO";
  device->osName = "Linux";
  device->osVersion = "6.1.0";
  device->locale = "en_US";
  device->timeZoneOffset = 60;
  device->screenSize = "1920x1080";
  device->appVersion = "1.2";
  device->appBuild = "42";
  device->appNamespace = "app.Wendrix";
  return device;
}

tlm::Date sampleDate() {
  return tlm::Date(std::chrono::milliseconds(1714557600123));
}

void userDefaultsSeeds(const fs::path& scratch) {
  const fs::path file = scratch / "defaults.plist";
  auto store = platform::FileUserDefaults::open(file);
  if (!store) {
    std::fprintf(stderr, "cannot open %s\n", file.c_str());
    std::exit(1);
  }
  {
    DefaultsStorage storage(*store, std::string("7"));
    storage.applyFirstRunDefaults();
    for (const Layout& layout : sampleLayouts())
      storage.saveLayout(layout);
    storage.saveAppSettings(sampleSettings());
    storage.closeBehavior().setValue(CloseBehavior::quit);
  }
  tlm::TLMDarAvevedUserDefaults settings(*store);
  settings.setObject(coding::Value("0C1D2E3F-0000-4000-8000-000000000001"), "InstallId");
  tlm::context_detail::storeHistory(
      settings, "SessionIdHistory",
      std::vector<std::shared_ptr<tlm::TLMSessionHistoryInfo>>{
          std::make_shared<tlm::TLMSessionHistoryInfo>(sampleDate(), "S1")});

  const std::string saved = readFile(file);
  write("defaults_store", "saved-defaults.bplist", saved);
  write("plist", "saved-defaults.bplist", saved);
  auto tree = coding::decodePropertyList(saved);
  if (tree) {
    if (auto xml = coding::encodePropertyList(*tree, coding::PlistFormat::xml)) {
      write("defaults_store", "saved-defaults.xml", *xml);
      write("plist", "saved-defaults.xml", *xml);
    }
  }
}

void recordSeeds(const fs::path& scratch) {
  if (auto blob = coding::toPropertyList(sampleLayouts())) {
    write("layout_records", "layouts.bplist", *blob);
  }
  if (auto blob = coding::toPropertyList(sampleSettings())) {
    write("layout_records", "appsettings.bplist", *blob);
  }

  auto storage = std::make_shared<DefaultsStorage>(std::make_shared<platform::MemoryUserDefaults>(),
                                                   std::string("7"));
  LayoutTransfer transfer(storage, std::make_shared<platform::FakeFilePanels>(),
                          std::make_shared<platform::FakeBundleProvider>());
  const fs::path exported = scratch / "WendrixData.json";
  if (transfer.writeLayouts(sampleLayouts(), base::Url::fromFilePath(exported.string()))) {
    write("layout_import", "export.json", readFile(exported));
    write("json", "export.json", readFile(exported));
  }
  if (auto text = sharedJSONEncoder().encode(sampleSettings())) {
    write("app_settings_import", "appsettings.json", *text);
    write("json", "appsettings.json", *text);
  }
}

void archiveSeeds() {
  auto start = std::make_shared<tlm::TLMStartServiceLog>();
  start->timestamp = sampleDate();
  start->sid = "S1";
  start->device = sampleDevice();
  start->services = std::vector<std::string>{"Analytics", "Crashes"};
  if (auto bytes = tlm::archiveKeyedData(*start)) write("archive", "start-service-log", *bytes);

  auto custom = std::make_shared<tlm::TLMCustomPropertiesLog>();
  custom->timestamp = sampleDate();
  custom->device = sampleDevice();
  custom->properties = tlm::TLMCustomPropertyMap{{"name", std::string("value")},
                                                 {"count", std::int64_t{3}},
                                                 {"on", true},
                                                 {"ratio", 0.5},
                                                 {"when", sampleDate()},
                                                 {"gone", tlm::TLMCustomPropertyClear{}}};
  if (auto bytes = tlm::archiveKeyedData(*custom))
    write("archive", "custom-properties-log", *bytes);

  auto event = std::make_shared<tlm::TLMLogWithProperties>();
  event->type = "event";
  event->timestamp = sampleDate();
  event->sid = "S1";
  event->userId = "alice";
  event->device = sampleDevice();
  event->properties = std::map<std::string, std::string>{{"k", "v"}};
  event->addTransmissionTargetToken("token-1");
  for (const auto& cs : tlm::toCommonSchemaLogsWithFlags(*event, 1)) {
    if (auto bytes = tlm::archiveKeyedData(*cs)) write("archive", "common-schema-log", *bytes);
  }

  std::vector<std::shared_ptr<const tlm::TLMArchivable>> history{
      std::make_shared<tlm::TLMSessionHistoryInfo>(sampleDate(), "S1"),
      std::make_shared<tlm::TLMUserIdHistoryInfo>(sampleDate(), "alice"),
      std::make_shared<tlm::TLMDeviceHistoryInfo>(sampleDate(), sampleDevice())};
  if (auto bytes = tlm::archiveKeyedArray(history)) write("archive", "histories", *bytes);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
    return 2;
  }
  gOut = argv[1];
  tlm::registerLogModelArchiveClasses();
  tlm::registerCommonSchemaArchiveClasses();
  std::error_code error;
  const fs::path scratch =
      fs::temp_directory_path() / ("wendrix-seeds-" + std::to_string(::getpid()));
  fs::create_directories(scratch);
  userDefaultsSeeds(scratch);
  recordSeeds(scratch);
  archiveSeeds();
  fs::remove_all(scratch, error);
  return 0;
}
