// Restoring one application: finding or launching it, and requests to the
// workspace.

#include <string>
#include <thread>
#include <vector>

#include "engine/restore_errors.h"
#include "restore_fixture.h"

namespace wendrix::testing {
namespace {

using namespace std::chrono_literals;

class RestoreAppTest : public RestoreTest {};

TEST_F(RestoreAppTest, FindOrLaunchTellsWhetherItLaunched) {
  const base::Url editorURL = url("file:///apps/editor.desktop");
  desktop.workspace().install(kEditor, editorURL);
  desktop.scriptLaunch(editorURL, LaunchScript::launching(AppSetup::withId(kEditor), {}, 2s));

  auto launched = run(actions->launcher().findOrLaunchApp(app(kEditor)));
  ASSERT_TRUE(launched->succeeded());
  EXPECT_TRUE(launched->result->value().launched);
  EXPECT_EQ(launched->at, 2s);
  EXPECT_TRUE(sameApplication(launched->result->value().application, running(kEditor)));

  auto found = run(actions->launcher().findOrLaunchApp(app(kEditor)));
  ASSERT_TRUE(found->succeeded());
  EXPECT_FALSE(found->result->value().launched);
  EXPECT_TRUE(sameApplication(found->result->value().application, running(kEditor)));
  EXPECT_EQ(desktop.workspace().requests().size(), 1u);
}

TEST_F(RestoreAppTest, OpeningDocumentsMakesOneRequestAlsoWithoutDocuments) {
  const base::Url stale = url("file:///old/editor.desktop");
  const base::Url editorURL = url("file:///apps/editor.desktop");
  desktop.workspace().install(kEditor, editorURL);
  desktop.scriptLaunch(
      editorURL,
      LaunchScript::launching(AppSetup::withId(kEditor).withPid(900)).withWindowPerDocument());
  IApp record = app(kEditor);
  record.bundleURL = stale;

  auto none = run(actions->launcher().openURLsWithApp(record, {}));
  auto two = run(actions->launcher().openURLsWithApp(
      record, {base::Url::fromFilePath("/docs/a.txt"), base::Url::fromFilePath("/docs/b.txt")}));

  ASSERT_TRUE(none->succeeded());
  ASSERT_TRUE(two->succeeded());
  EXPECT_EQ(two->result->value().processIdentifier, 900);
  // Each call tried the stale saved URL first, then the installed one.
  const auto& requests = desktop.workspace().requests();
  ASSERT_EQ(requests.size(), 4u);
  EXPECT_EQ(requests[1].applicationURL, editorURL);
  EXPECT_EQ(requests[1].documents, std::vector<base::Url>{});
  EXPECT_EQ(requests[3].documents->size(), 2u);
  std::vector<std::optional<std::string>> documents;
  for (const auto& w : running(kEditor)->windows())
    documents.push_back(w->document());
  EXPECT_EQ(documents, (std::vector<std::optional<std::string>>{"/docs/a.txt", "/docs/b.txt"}));
}

// A workspace whose completions arrive on another thread.
class ThreadedWorkspace final : public platform::Workspace {
 public:
  std::optional<base::Url> urlForApplication(std::string_view) override {
    return url("file:///apps/editor.desktop");
  }
  void openApplication(const base::Url&, platform::OpenCompletion completion) override {
    std::thread([&] {
      completion(platform::LaunchedApplication{321, kEditor, std::nullopt}, std::nullopt);
    }).join();
  }
  void openURLs(const std::vector<base::Url>&, const base::Url& u,
                platform::OpenCompletion completion) override {
    openApplication(u, std::move(completion));
  }
};

TEST_F(RestoreAppTest, CompletionFromAnotherThreadIsHandedToTheMainQueue) {
  ThreadedWorkspace workspace;
  ActionsContext c = restoreContext();
  c.workspace = &workspace;
  actions = Actions::make(c);
  std::optional<std::thread::id> deliveredOn;

  auto outcome = watch(
      actions->launcher()
          .launchApp(app(kEditor))
          .doOn({.onSuccess = [&](const auto&) { deliveredOn = std::this_thread::get_id(); }}),
      queue);
  EXPECT_FALSE(outcome->settled());
  queue.runUntilIdle();

  ASSERT_TRUE(outcome->succeeded());
  EXPECT_EQ(outcome->result->value().processIdentifier, 321);
  EXPECT_EQ(deliveredOn, std::this_thread::get_id());
}

TEST_F(RestoreAppTest, StepsEndQuietlyOnceTheActionsAreGone) {
  const base::Url editorURL = url("file:///apps/editor.desktop");
  desktop.workspace().install(kEditor, editorURL);
  const auto restore = actions->restorer().restoreApp(app(kEditor, {savedWindow("w", {})}));
  const auto launch = actions->launcher().launchApp(app(kEditor));
  actions.reset();

  auto restored = run(restore);
  auto launched = run(launch);

  ASSERT_TRUE(restored->succeeded());
  EXPECT_TRUE(restored->result->value().empty());
  ASSERT_TRUE(launched->settled());
  ASSERT_FALSE(launched->succeeded());
  EXPECT_TRUE(NilWeakSelfError::is(launched->result->error()));
  EXPECT_TRUE(desktop.workspace().requests().empty());
}

}  // namespace
}  // namespace wendrix::testing
