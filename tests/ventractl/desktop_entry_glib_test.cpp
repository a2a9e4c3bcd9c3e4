// The entry autostart writes, read back by GLib as a desktop session reads it: accepted, its
// program the app at a path with a space, a backslash and a "$".
#include <gio/gdesktopappinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "host/desktop_entry.h"

namespace ventra {
namespace {
namespace fs = std::filesystem;

TEST(DesktopEntry, GLibAcceptsTheEntryItWritesAndFindsTheApp) {
  const fs::path dir = fs::temp_directory_path() / ("entry-" + std::to_string(getpid()));
  const fs::path app = dir / "my apps" / "1\\$HOME" / "ventra";
  fs::create_directories(app.parent_path());
  std::ofstream(app) << "#!/bin/sh\n";
  ::chmod(app.c_str(), 0755);
  ASSERT_FALSE(ctl::whyNoEntryCanRun(app));
  std::ifstream installed(VENTRA_SOURCE_DIR "/packaging/ventra-autostart.desktop");
  const std::string entry((std::istreambuf_iterator<char>(installed)), {});
  const auto written = ctl::entryRunning(entry, app);
  ASSERT_TRUE(written);
  std::ofstream(dir / "ventra.desktop") << *written;
  GDesktopAppInfo* info = g_desktop_app_info_new_from_filename((dir / "ventra.desktop").c_str());
  ASSERT_NE(info, nullptr) << *written;
  gchar** argv = nullptr;
  ASSERT_TRUE(
      g_shell_parse_argv(g_app_info_get_commandline(G_APP_INFO(info)), nullptr, &argv, nullptr));
  EXPECT_EQ(std::string(argv[0]), app.string());
  g_strfreev(argv);
  g_object_unref(info);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace ventra
