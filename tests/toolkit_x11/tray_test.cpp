#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGlyphRun>
#include <QImage>
#include <QPainterPath>
#include <QRawFont>
#include <QSystemTrayIcon>
#include <QTextLayout>
#include <QWidget>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <memory>

#include "dispatch/manual_queue.h"
#include "support/x_server_required.h"
#include "toolkit/application.h"
#include "toolkit/qt/qt_backend.h"
#include "toolkit/status_item.h"
#include "x11_session/x_session.h"

extern char** environ;

// D-Bus, which Qt's tray support starts, keeps a buffer to the end.
#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libdbus-1.so\n";
}
#endif

namespace toolkit::qt {
namespace {

// Processes Qt's events until `done` holds or `limit` passes.
bool processUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > limit.count()) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  return true;
}

// A tray host on the session's display, ended with the test.
struct Trayer {
  pid_t pid = -1;
  bool start() {
    char* argv[] = {const_cast<char*>("trayer"), const_cast<char*>("--edge"),
                    const_cast<char*>("top"), nullptr};
    return ::posix_spawnp(&pid, "trayer", nullptr, nullptr, argv, environ) == 0;
  }
  ~Trayer() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
};

// Qt on the session's X server (xcb), as the program runs.
class QtOnXTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto& session = x11test::XSession::shared();
    if (!session.available()) {
      WENDRIX_NO_X_SERVER(session.problem());
    }
    ::setenv("DISPLAY", session.display().c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    qtApp_ = std::make_unique<QApplication>(argc_, argv_);
  }

 private:
  int argc_ = 1;
  char name_[17] = "test_toolkit_x11";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> qtApp_;
};

// "NEW:" items begin with U+1F31F: the font fallback finds a font that has it.
TEST_F(QtOnXTest, TheGlowingStarHasAGlyph) {
  QTextLayout layout(QString::fromUtf8("\U0001F31F NEW: Hide layout windows"));
  layout.beginLayout();
  layout.createLine();
  layout.endLayout();
  bool found = false;
  for (const QGlyphRun& run : layout.glyphRuns(0, 2)) {
    for (quint32 glyph : run.glyphIndexes()) {
      if (glyph == 0) continue;
      const QPainterPath outline = run.rawFont().pathForGlyph(glyph);
      const QImage image = run.rawFont().alphaMapForGlyph(glyph);
      found = found || !outline.isEmpty() || !image.isNull();
    }
    EXPECT_FALSE(run.glyphIndexes().contains(0)) << run.rawFont().familyName().toStdString();
  }
  EXPECT_TRUE(found);
}

TEST_F(QtOnXTest, FallbackWindowUntilATrayAppears) {
  dispatch::ManualQueue queue;
  Application app(queue, {{}, {{"Menu Icon", WENDRIX_MENU_ICON}}, nullptr});
  QtBackend backend(app);
  auto item = app.makeStatusItem();
  item->setImage(app.imageNamed("Menu Icon"));
  ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
  QWidget* fallback = backend.statusFallbackWidget(*item);
  ASSERT_NE(fallback, nullptr);
  EXPECT_TRUE(processUntil([&] { return fallback->isVisible(); }, std::chrono::seconds(5)));

  Trayer trayer;
  ASSERT_TRUE(trayer.start());
  EXPECT_TRUE(processUntil([&] { return backend.statusFallbackWidget(*item) == nullptr; },
                           std::chrono::seconds(10)));
  EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
}

}  // namespace
}  // namespace toolkit::qt
