// The Download Manager button: what it launches under the install root.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "AdvancedColorOptions.h"

namespace R2740_COLOR_NS {
namespace {

namespace fs = std::filesystem;

class DownloadManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root = fs::temp_directory_path() / ("panes_dm_" + std::to_string(getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root);
    fs::create_directories(root / "Applications/Download Manager R2740");
    setenv("R2740_ROOT", root.c_str(), 1);
    app = root / "Applications/Download Manager R2740/ORVESSA Download Manager.app";
  }
  void TearDown() override {
    unsetenv("R2740_ROOT");
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  // A shell script that leaves a marker file when it runs.
  void WriteProgram(const fs::path& path, const fs::path& marker, mode_t mode = 0755) {
    std::ofstream(path) << "#!/bin/sh\ntouch '" << marker.string() << "'\n";
    chmod(path.c_str(), mode);
  }
  fs::path root, app;
};

TEST_F(DownloadManagerTest, ChoosesTheProgramToLaunch) {
  // Missing: nothing, and the button does nothing.
  EXPECT_EQ(AdvancedColorOptions::DownloadManagerExecutable(), "");
  AdvancedColorOptions pane;
  pane.downloadManagerButton(nullptr);

  // An application directory without its program: nothing.
  fs::create_directories(app / "Contents/MacOS");
  EXPECT_EQ(AdvancedColorOptions::DownloadManagerExecutable(), "");
  // Its program present but not executable: nothing.
  fs::path program = app / "Contents/MacOS/ORVESSA Download Manager";
  WriteProgram(program, root / "unused", 0644);
  EXPECT_EQ(AdvancedColorOptions::DownloadManagerExecutable(), "");
  chmod(program.c_str(), 0755);
  EXPECT_EQ(AdvancedColorOptions::DownloadManagerExecutable(), program.string());

  // A plain executable file at the application's path is run as it is.
  fs::remove_all(app);
  WriteProgram(app, root / "unused");
  EXPECT_EQ(AdvancedColorOptions::DownloadManagerExecutable(), app.string());
  chmod(app.c_str(), 0644);
  EXPECT_EQ(AdvancedColorOptions::DownloadManagerExecutable(), "");
}

TEST_F(DownloadManagerTest, ButtonStartsTheApplicationWithoutWaiting) {
  fs::create_directories(app / "Contents/MacOS");
  fs::path marker = root / "launched";
  WriteProgram(app / "Contents/MacOS/ORVESSA Download Manager", marker);
  AdvancedColorOptions pane;
  ASSERT_TRUE(pane.respondsToAction("downloadManagerButton:"));
  pane.performAction("downloadManagerButton:", nullptr);
  // The launch is detached; wait for its marker (generously, not timed).
  for (int i = 0; i < 500 && !fs::exists(marker); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(fs::exists(marker));
}

}  // namespace
}  // namespace R2740_COLOR_NS
