// The lock-down library as the client loads it: from its file, on the GTK main thread, with a
// real window on a private display, checked from another connection to the display.
#include <dlfcn.h>
#include <gtk/gtk.h>
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace {

using HookFn = void (*)();

int Probe() {
  int status = std::system(KEYBOARD_PROBE);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the main loop until |done| holds or the time is up.
bool SpinUntil(const std::function<bool()>& done, int ms = 5000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (std::chrono::steady_clock::now() < end) {
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    if (done()) return true;
    g_usleep(10000);
  }
  return done();
}

class QuintrelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(gtk_init_check(nullptr, nullptr)); }

  void SetUp() override {
    library = dlopen(QUINTREL_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    setHook = reinterpret_cast<HookFn>(dlsym(library, "SetHook"));
    exitHook = reinterpret_cast<HookFn>(dlsym(library, "ExitHook"));
    ASSERT_NE(setHook, nullptr);
    ASSERT_NE(exitHook, nullptr);
  }
  void TearDown() override {
    if (exitHook) exitHook();
    if (window) gtk_widget_destroy(window);
    SpinUntil([] { return false; }, 100);
  }

  void ShowWindow() {
    window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 200, 100);
    gtk_widget_show_all(window);
  }

  void* library = nullptr;
  HookFn setHook = nullptr;
  HookFn exitHook = nullptr;
  GtkWidget* window = nullptr;
};

TEST_F(QuintrelTest, LocksTheKeyboardUntilReleased) {
  ShowWindow();
  ASSERT_EQ(Probe(), 0);
  // Called right after the window was shown, before it is viewable: the grab follows.
  setHook();
  EXPECT_TRUE(SpinUntil([] { return Probe() == 3; }));
  // A second switch-on keeps one grab.
  setHook();
  SpinUntil([] { return false; }, 300);
  EXPECT_EQ(Probe(), 3);
  exitHook();
  EXPECT_TRUE(SpinUntil([] { return Probe() == 0; }));
  // It stays off: nothing grabs again later.
  SpinUntil([] { return false; }, 300);
  EXPECT_EQ(Probe(), 0);
}

TEST_F(QuintrelTest, ReleaseWithoutLockIsHarmless) {
  exitHook();
  exitHook();
  ShowWindow();
  exitHook();
  SpinUntil([] { return false; }, 200);
  EXPECT_EQ(Probe(), 0);
}

TEST_F(QuintrelTest, GrabLostWithTheWindowIsTakenOnTheNextWindow) {
  ShowWindow();
  setHook();
  ASSERT_TRUE(SpinUntil([] { return Probe() == 3; }));
  gtk_widget_destroy(window);
  window = nullptr;
  ShowWindow();
  SpinUntil([] { return false; }, 500);
  EXPECT_TRUE(SpinUntil([] { return Probe() == 3; }));
}

}  // namespace
