#include "storage/layout_transfer.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/bundle/fake/fake_bundle_provider.h"
#include "platform/panels/fake/fake_file_panels.h"
#include "storage/text_file.h"
#include "storage_test_support.h"
#include "support/temp_dir.h"

namespace wendrix {
namespace {

namespace fs = std::filesystem;
using testing::app;
using testing::layout;
using testing::names;
using testing::RefusingUserDefaults;
using testing::SentError;
using testing::sentErrors;
using testing::window;
using Names = std::vector<std::string>;

// Runs a Single that completes at once; its value or its error.
template <class T>
std::optional<base::Result<T>> run(const rx::Single<T>& single) {
  std::optional<base::Result<T>> out;
  single.subscribe([&](const T& value) { out.emplace(value); },
                   [&](const base::Error& error) { out.emplace(error); });
  return out;
}

// The value a Single<bool> yields at once; none (and a failure) otherwise.
std::optional<bool> yielded(const rx::Single<bool>& single) {
  const auto result = run(single);
  if (!result) {
    ADD_FAILURE() << "no result";
    return std::nullopt;
  }
  if (!result->ok()) {
    ADD_FAILURE() << "failed with " << result->error();
    return std::nullopt;
  }
  return result->value();
}

// A random source that hands out 0, 1, 2, ... modulo the bound.
UniformRandom counting() {
  auto next = std::make_shared<std::uint32_t>(0);
  return [next](std::uint32_t bound) { return (*next)++ % bound; };
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

void writeFile(const fs::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::set<std::string> entries(const fs::path& folder) {
  std::set<std::string> out;
  for (const auto& entry : fs::directory_iterator(folder)) {
    out.insert(entry.path().filename().string());
  }
  return out;
}

const base::Url kEditorURL =
    base::Url::fromFilePath("/usr/share/applications/org.example.edit.desktop");

// A layout with every kind of field set, so a round trip shows each survives.
Layout richLayout(std::string name) {
  IWindow w = window("Notes — draft", 3);
  w.doc = "file:///home/me/notes.txt";
  w.addonState = base::Bytes{0, 1, 2, 250};
  IApp a = app("org.example.edit", {w});
  a.bundleURL = kEditorURL;
  a.mainWindow = window("Notes — draft");
  return layout(std::move(name), {a}, true);
}

class LayoutTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bundles_->add(
        platform::FakeBundleProvider::makeBundle(kEditorURL, "org.example.edit", "Editor"));
  }

  LayoutTransfer transferOver(std::shared_ptr<DefaultsStorage> storage,
                              UniformRandom random = counting()) {
    return LayoutTransfer(std::move(storage), panels_, bundles_, std::move(random));
  }
  base::Url fileURL(const std::string& name) const {
    return base::Url::fromFilePath((folder_ / name).string());
  }
  void save(const std::vector<Layout>& layouts) { storage_->layouts().setValue(layouts); }
  std::optional<base::Bytes> storedBytes() const {
    return defaults_->getBytes(defaults_keys::kSaved);
  }

  support::TempDir temp_{"layout-transfer"};
  fs::path folder_ = temp_.path();
  std::shared_ptr<RefusingUserDefaults> defaults_ = std::make_shared<RefusingUserDefaults>();
  std::shared_ptr<DefaultsStorage> storage_ = std::make_shared<DefaultsStorage>(defaults_, "1");
  std::shared_ptr<platform::FakeFilePanels> panels_ = std::make_shared<platform::FakeFilePanels>();
  std::shared_ptr<platform::FakeBundleProvider> bundles_ =
      std::make_shared<platform::FakeBundleProvider>();
  std::shared_ptr<int> owner_ = std::make_shared<int>(0);  // stands for the actions object
  LayoutTransfer transfer_ = transferOver(storage_);
  tlm::ScopedRecordingAnalytics analytics_;
};

TEST_F(LayoutTransferTest, ExportThenImportOnRealFiles) {
  save({richLayout("Work"), layout("Home")});
  const fs::path file = folder_ / "WendrixData.json";
  writeFile(file, "an older export that is much longer than the new one will be ...");
  ASSERT_EQ(::chmod(file.c_str(), 0640), 0);

  EXPECT_EQ(yielded(transfer_.exportLayoutsToFile(fileURL("WendrixData.json"), owner_)), true);

  // Pretty-printed UTF-8 JSON whose only member is "layouts"; the file was
  // replaced whole, kept its mode, and no temporary file is left behind.
  const std::string text = readFile(file);
  EXPECT_NE(text.find("\n  \"layouts\""), std::string::npos) << text;
  const auto json = nlohmann::json::parse(text);
  ASSERT_TRUE(json.is_object());
  EXPECT_EQ(json.size(), 1u);
  ASSERT_EQ(json.at("layouts").size(), 2u);
  EXPECT_EQ(json["layouts"][0]["apps"][0]["windows"][0]["addonState"], "AAEC+g==");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(entries(folder_), std::set<std::string>{"WendrixData.json"});

  // Into an empty store: both layouts under their own names, whole.
  auto otherDefaults = std::make_shared<RefusingUserDefaults>();
  auto otherStorage = std::make_shared<DefaultsStorage>(otherDefaults, "1");
  EXPECT_EQ(
      yielded(
          transferOver(otherStorage).importLayoutsFromFile(fileURL("WendrixData.json"), owner_)),
      true);
  const std::vector<Layout> imported = otherStorage->loadLayouts();
  ASSERT_EQ(names(imported), (Names{"Work", "Home"}));
  const Layout expected = richLayout("Work");
  ASSERT_EQ(imported[0].apps.size(), 1u);
  EXPECT_EQ(imported[0].apps[0], expected.apps[0]);
  EXPECT_EQ(imported[0].apps[0].windows, expected.apps[0].windows);
  EXPECT_EQ(imported[0].apps[0].windows[0].addonState, expected.apps[0].windows[0].addonState);
  EXPECT_EQ(imported[0].apps[0].mainWindow, expected.apps[0].mainWindow);
  EXPECT_EQ(imported[0].alwaysCloseOtherApps, true);
  EXPECT_EQ(imported[1].alwaysCloseOtherApps, std::nullopt);
  EXPECT_TRUE(sentErrors(analytics_).empty());
}

TEST_F(LayoutTransferTest, ImportOfAHandWrittenFileIgnoresOtherMembers) {
  writeFile(folder_ / "in.json", R"({"version": 2, "layouts": [{"name": "Desk", "apps": []}]})");
  EXPECT_EQ(yielded(transfer_.importLayoutsFromFile(fileURL("in.json"), owner_)), true);
  EXPECT_EQ(names(storage_->loadLayouts()), Names{"Desk"});
}

TEST_F(LayoutTransferTest, UnreadableOrMalformedFilesFailAndChangeNothing) {
  const base::Error parse = DataExportErrors::make(DataExportError::FailedToParseImportedFile);
  struct Case {
    const char* what;
    std::optional<std::string> contents;  // none: see `other`
    std::string domain;
    std::int64_t code;
    const char* other = "";  // without contents: "folder", "fifo", or "" for nothing there
  };
  const std::string parseDomain(DataExportErrors::kDomain);
  const std::string fileDomain(FileError::kDomain);
  const Case cases[] = {
      {"malformed JSON", R"({"layouts": [{"name": "A", "apps": [])", parseDomain, parse.code},
      {"unknown key", R"({"Layouts": [{"name": "A", "apps": []}]})", parseDomain, parse.code},
      {"empty file", "", parseDomain, parse.code},
      {"layout without apps", R"({"layouts": [{"name": "A"}]})", parseDomain, parse.code},
      {"not an object", R"([{"name": "A", "apps": []}])", parseDomain, parse.code},
      {"not UTF-8", "{\"layouts\": [{\"name\": \"Caf\xe9\", \"apps\": []}]}", fileDomain,
       FileError::notUtf8},
      {"no file", std::nullopt, fileDomain, FileError::readFailed},
      {"a folder", std::nullopt, fileDomain, FileError::readFailed, "folder"},
      {"a FIFO without writer", std::nullopt, fileDomain, FileError::readFailed, "fifo"},
  };
  save({layout("Work")});
  const auto before = storedBytes();
  int emissions = 0;
  const auto subscription = storage_->savedStream().subscribe([&](const auto&) { ++emissions; });

  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path file = folder_ / "in.json";
    fs::remove_all(file);
    if (c.contents) writeFile(file, *c.contents);
    if (std::string_view(c.other) == "folder") fs::create_directory(file);
    if (std::string_view(c.other) == "fifo") {
      ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    }
    const auto result = run(transfer_.importLayoutsFromFile(fileURL("in.json"), owner_));
    ASSERT_TRUE(result.has_value());
    ASSERT_FALSE(result->ok());
    EXPECT_EQ(result->error().domain, c.domain);
    EXPECT_EQ(result->error().code, c.code);
  }
  EXPECT_EQ(parse.description,
            "The operation couldn\u2019t be completed. (Wendrix.DataExportError error 2.)");
  EXPECT_EQ(storedBytes(), before);
  EXPECT_EQ(emissions, 1);                      // the replay at subscription only
  EXPECT_TRUE(sentErrors(analytics_).empty());  // the caller reports import failures
  subscription.dispose();
}

TEST_F(LayoutTransferTest, FailedExportReportsAndLeavesNoPartialFile) {
  save({richLayout("Work")});
  writeFile(folder_ / "plain", "a file, not a folder");
  fs::create_directory(folder_ / "Work.json");
  struct Case {
    const char* what;
    std::string target;
  };
  const Case cases[] = {
      {"missing folder", "absent/Work.json"},
      {"folder is a file", "plain/Work.json"},
      {"target is a folder", "Work.json"},
  };
  const std::set<std::string> before = entries(folder_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    analytics_.backend().clear();
    EXPECT_EQ(yielded(transfer_.exportLayoutsToFile(fileURL(c.target), owner_)), false);
    const auto errors = sentErrors(analytics_);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].location, "prefs.export_001");
    // Layout names, app names, ids and URLs are anonymized; the file name
    // holds the layout's name.
    EXPECT_NE(errors[0].description.find("LAYOUT_NAME.json"), std::string::npos)
        << errors[0].description;
    EXPECT_EQ(errors[0].description.find("Work"), std::string::npos) << errors[0].description;
    EXPECT_EQ(entries(folder_), before);
    EXPECT_TRUE(fs::is_empty(folder_ / "Work.json"));
  }
}

TEST_F(LayoutTransferTest, ExportIntoAFolderWithoutWritePermission) {
  if (::geteuid() == 0) GTEST_SKIP() << "root may write anywhere";
  const fs::path locked = folder_ / "locked";
  fs::create_directory(locked);
  ASSERT_EQ(::chmod(locked.c_str(), 0500), 0);
  EXPECT_FALSE(transfer_.writeLayouts({layout("Work")}, fileURL("locked/out.json")));
  EXPECT_TRUE(fs::is_empty(locked));
  ASSERT_EQ(sentErrors(analytics_).size(), 1u);
  ::chmod(locked.c_str(), 0700);
}

TEST_F(LayoutTransferTest, ClashingNamesAreComparedWithTheSavedLayoutsOnly) {
  save({layout("Work"), layout("Desk")});
  writeFile(folder_ / "in.json", R"({"layouts": [
      {"name": "Work", "apps": [], "alwaysCloseOtherApps": true},
      {"name": "Home", "apps": []},
      {"name": "Work", "apps": []},
      {"name": "Home", "apps": []}]})");
  EXPECT_EQ(yielded(transfer_.importLayoutsFromFile(fileURL("in.json"), owner_)), true);
  const auto stored = storage_->loadLayouts();
  // Saved ones keep their order; imported ones follow in file order.
  EXPECT_EQ(names(stored),
            (Names{"Work", "Desk", "Work (Imported)", "Home", "Work (Imported)", "Home"}));
  EXPECT_EQ(stored[2].alwaysCloseOtherApps, true);
}

TEST_F(LayoutTransferTest, SecondClashTakesEightRandomDigitsThenGivesUp) {
  const std::vector<Layout> saved{layout("Work"), layout("Work (Imported)")};
  save(saved);
  EXPECT_TRUE(transfer_.mergeImportedLayouts(saved, owner_, {layout("Work")}));
  // Leading zeros stay.
  EXPECT_EQ(names(storage_->loadLayouts()),
            (Names{"Work", "Work (Imported)", "Work (Imported 01234567)"}));

  // With both candidates taken the layout is skipped with its own event; the
  // others still come in.
  auto sameDigits = transferOver(storage_, [](std::uint32_t) { return 0u; });
  const std::vector<Layout> zeros{layout("Work"), layout("Work (Imported)"),
                                  layout("Work (Imported 00000000)")};
  save(zeros);
  EXPECT_TRUE(sameDigits.mergeImportedLayouts(zeros, owner_, {layout("Work"), layout("Other")}));
  EXPECT_EQ(names(storage_->loadLayouts()),
            (Names{"Work", "Work (Imported)", "Work (Imported 00000000)", "Other"}));
  const std::vector<SentError> expected{
      {"Failed to find valid name to import layout", std::nullopt}};
  EXPECT_EQ(sentErrors(analytics_), expected);

  // Nothing accepted: false, and nothing stored.
  const auto before = storedBytes();
  int emissions = 0;
  const auto subscription = storage_->savedStream().subscribe([&](const auto&) { ++emissions; });
  EXPECT_FALSE(sameDigits.mergeImportedLayouts(zeros, owner_, {layout("Work")}));
  EXPECT_FALSE(sameDigits.mergeImportedLayouts(zeros, owner_, {}));
  EXPECT_EQ(storedBytes(), before);
  EXPECT_EQ(emissions, 1);
  subscription.dispose();
}

TEST_F(LayoutTransferTest, ImportedLayoutNameAndRandomDigits) {
  const std::vector<Layout> saved{layout("Work")};
  EXPECT_EQ(importedLayoutName("Work", saved, counting()), "Work (Imported)");
  EXPECT_EQ(importedLayoutName("work", saved, counting()), "work (Imported)");
  EXPECT_EQ(randomDigitString(0, counting()), "");
  EXPECT_EQ(randomDigitString(12, counting()), "012345678901");
  std::vector<std::uint32_t> bounds;
  randomDigitString(3, [&](std::uint32_t bound) {
    bounds.push_back(bound);
    return 9u;
  });
  EXPECT_EQ(bounds, (std::vector<std::uint32_t>{10, 10, 10}));
  const std::string digits = randomDigitString(64);
  EXPECT_EQ(digits.size(), 64u);
  EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos);
}

TEST_F(LayoutTransferTest, StoreThatRefusesTheWriteIsNotAnImport) {
  save({layout("Work")});
  defaults_->refuseWritesTo(std::string(defaults_keys::kSaved));
  EXPECT_FALSE(transfer_.mergeImportedLayouts({layout("Work")}, owner_, {layout("Home")}));
  EXPECT_EQ(names(storage_->loadLayouts()), Names{"Work"});
}

TEST_F(LayoutTransferTest, WithoutURLOrOwnerNothingHappens) {
  save({layout("Work")});
  writeFile(folder_ / "in.json", R"({"layouts": [{"name": "Home", "apps": []}]})");
  const std::weak_ptr<int> gone = std::make_shared<int>(0);

  EXPECT_EQ(yielded(transfer_.exportLayoutsToFile(std::nullopt, owner_)), false);
  EXPECT_EQ(yielded(transfer_.exportLayoutsToFile(fileURL("out.json"), gone)), false);
  EXPECT_EQ(yielded(transfer_.importLayoutsFromFile(std::nullopt, owner_)), false);
  EXPECT_EQ(yielded(transfer_.importLayoutsFromFile(fileURL("in.json"), gone)), false);
  EXPECT_EQ(yielded(transfer_.importLayoutsFromFile(fileURL("missing.json"), gone)), false);
  EXPECT_FALSE(transfer_.mergeImportedLayouts({}, gone, {layout("Home")}));

  EXPECT_EQ(entries(folder_), std::set<std::string>{"in.json"});
  EXPECT_EQ(names(storage_->loadLayouts()), Names{"Work"});
  EXPECT_TRUE(sentErrors(analytics_).empty());
}

TEST_F(LayoutTransferTest, PanelsYieldTheFileOnlyWhenConfirmed) {
  platform::PanelParent window;
  const base::Url chosen = fileURL("WendrixData.json");
  using Choice = std::optional<base::Url>;
  struct Case {
    platform::PanelResponse response;
    Choice url;
    Choice expected;
  };
  const Case cases[] = {
      {platform::PanelResponse::ok, chosen, chosen},
      {platform::PanelResponse::ok, std::nullopt, std::nullopt},
      {platform::PanelResponse::cancel, chosen, std::nullopt},
  };
  for (const Case& c : cases) {
    for (const bool exporting : {true, false}) {
      std::optional<Choice> got;
      const auto panel = exporting ? transfer_.showLayoutsExportPanel(&window)
                                   : transfer_.showLayoutsImportPanel(&window);
      panel.subscribe([&](const Choice& url) { got = url; });
      ASSERT_FALSE(got.has_value());  // waits for the user
      ASSERT_TRUE(panels_->close(c.response, c.url));
      EXPECT_EQ(got, std::optional<Choice>(c.expected));
    }
  }

  const auto& shown = panels_->shown();
  ASSERT_EQ(shown.size(), 6u);
  EXPECT_EQ(shown[0].kind, platform::FakeFilePanels::Kind::save);
  EXPECT_EQ(shown[0].options,
            (platform::FilePanelOptions{"Export your layouts!", "WendrixData", {"json"}}));
  EXPECT_EQ(shown[0].parent, &window);
  EXPECT_EQ(shown[1].kind, platform::FakeFilePanels::Kind::open);
  EXPECT_EQ(shown[1].options,
            (platform::FilePanelOptions{"Import your layouts!", "WendrixData", {"json"}}));

  // Disposing leaves the panel open; closing it later delivers nothing.
  bool delivered = false;
  transfer_.showLayoutsExportPanel(&window)
      .subscribe([&](const Choice&) { delivered = true; })
      .dispose();
  EXPECT_EQ(panels_->openCount(), 1u);
  EXPECT_TRUE(panels_->close(platform::PanelResponse::ok, chosen));
  EXPECT_FALSE(delivered);
}

}  // namespace
}  // namespace wendrix
