// Loading plug-in bundles: two builds of one source side by side, and the
// loader's failure reports.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "host.h"
#include "host_test_util.h"

using namespace hosttest;
namespace fs = std::filesystem;

namespace {

std::shared_ptr<host::HostCallback> MakeCallback() {
  std::string error;
  auto ppd = host::PPDFile::open(ColorPPD(), &error);
  EXPECT_TRUE(ppd) << error;
  return std::make_shared<host::HostCallback>(
      host::ManualQueue(ColorPPD(), "R2740_Queue_1", "lpd://127.0.0.1/queue"), std::move(ppd));
}

std::string PanelString(const pde::PanelRef& p, const std::string& key) {
  auto s = cf::As<cf::String>(p->summaryInfo()->getValue(key));
  return s ? s->utf8() : "";
}

// A copy of test bundle A whose Info.plist is replaced.
std::string BrokenCopy(const TempDir& dir, const std::string& name, const std::string& infoPlist) {
  std::string path = dir.file(name + ".plugin");
  fs::copy(TestBundle("A"), path, fs::copy_options::recursive);
  if (!infoPlist.empty()) dir.write(name + ".plugin/Contents/Info.plist", infoPlist);
  return path;
}

std::string Plist(const std::string& body) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n" +
         body + "\n</plist>\n";
}

}  // namespace

TEST(PlugInLoader, TwoBuildsOfOneSourceLiveSideBySide) {
  std::string error;
  auto a = host::LoadPlugIn(TestBundle("A"), &error);
  ASSERT_TRUE(a) << error;
  auto b = host::LoadPlugIn(TestBundle("B"), &error);
  ASSERT_TRUE(b) << error;
  EXPECT_EQ(a->bundle()->bundleIdentifier(), "jp.orvessa.test.A");
  EXPECT_EQ(b->bundle()->bundleIdentifier(), "jp.orvessa.test.B");

  auto cb = MakeCallback();
  cf::StringRef type = cf::str(pde::kPrinterModuleType);
  auto listA = a->factory()->PDEPanelsForType(type, cb);
  auto listB = b->factory()->PDEPanelsForType(type, cb);
  ASSERT_TRUE(listA && listB);
  ASSERT_EQ(listA->size(), 1u);
  ASSERT_EQ(listB->size(), 1u);
  const auto& pa = listA->front();
  const auto& pb = listB->front();
  // Each build answers with its own code ...
  EXPECT_EQ(pa->panelName()->utf8(), "Test Panel A");
  EXPECT_EQ(pb->panelName()->utf8(), "Test Panel B");
  EXPECT_EQ(PanelString(pa, "Build"), "A");
  EXPECT_EQ(PanelString(pb, "Build"), "B");
  // ... and its own statics: a second panel of A is counted by A only.
  // The counters live as long as the process, so compare differences.
  auto count = [](const pde::PanelRef& p) {
    auto n = cf::As<cf::Number>(p->summaryInfo()->getValue("Panels"));
    return n ? n->int64Value() : -1;
  };
  const auto beforeA = count(pa), beforeB = count(pb);
  ASSERT_GE(beforeA, 1);
  ASSERT_GE(beforeB, 1);
  auto listA2 = a->factory()->PDEPanelsForType(type, cb);
  ASSERT_TRUE(listA2);
  EXPECT_EQ(count(pa) - beforeA, 1);
  EXPECT_EQ(count(pb) - beforeB, 0);

  // Only the entry point is exported, and each library exports only its own.
  void* libA = dlopen((TestBundle("A") + "/Contents/lib/TestPanelA.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(libA, nullptr);
  EXPECT_NE(dlsym(libA, "R2740TestFactoryA"), nullptr);
  EXPECT_EQ(dlsym(libA, "R2740TestFactoryB"), nullptr);
  // Nothing of the build leaks into the global namespace.
  EXPECT_EQ(dlsym(RTLD_DEFAULT, "R2740TestFactoryA"), nullptr);
  dlclose(libA);
}

TEST(PlugInLoader, FailuresAreOneLineReasons) {
  TempDir dir;
  std::string error;
  auto oneLine = [](const std::string& s) { return !s.empty() && s.find('\n') == std::string::npos; };

  EXPECT_FALSE(host::LoadPlugIn(dir.file("Nowhere.plugin"), &error));
  EXPECT_TRUE(oneLine(error));
  EXPECT_NE(error.find("bundle not found"), std::string::npos) << error;

  auto notDict = BrokenCopy(dir, "NotDict", Plist("<array><string>x</string></array>"));
  EXPECT_FALSE(host::LoadPlugIn(notDict, &error));
  EXPECT_TRUE(oneLine(error));
  EXPECT_NE(error.find("Info.plist"), std::string::npos) << error;

  auto garbage = BrokenCopy(dir, "Garbage", "this is no property list");
  EXPECT_FALSE(host::LoadPlugIn(garbage, &error));
  EXPECT_NE(error.find("Info.plist"), std::string::npos) << error;

  auto noEntry = BrokenCopy(dir, "NoEntry", Plist("<dict><key>R2740PDELibrary</key><string>TestPanelA.so</string>"
                                                  "<key>R2740PDEFactoryEntry</key><string>NoSuchEntry</string></dict>"));
  EXPECT_FALSE(host::LoadPlugIn(noEntry, &error));
  EXPECT_TRUE(oneLine(error));
  EXPECT_NE(error.find("NoSuchEntry"), std::string::npos) << error;

  auto noEntryKey = BrokenCopy(dir, "NoEntryKey", Plist("<dict><key>R2740PDELibrary</key>"
                                                        "<string>TestPanelA.so</string></dict>"));
  EXPECT_FALSE(host::LoadPlugIn(noEntryKey, &error));
  EXPECT_NE(error.find("R2740PDEFactoryEntry"), std::string::npos) << error;

  auto noLib = BrokenCopy(dir, "NoLib", Plist("<dict><key>R2740PDELibrary</key><string>Gone.so</string>"
                                              "<key>R2740PDEFactoryEntry</key><string>R2740TestFactoryA</string></dict>"));
  EXPECT_FALSE(host::LoadPlugIn(noLib, &error));
  EXPECT_NE(error.find("library missing"), std::string::npos) << error;

  // The library must lie inside the bundle.
  auto escape = BrokenCopy(dir, "Escape", Plist("<dict><key>R2740PDELibrary</key><string>../../../NoLib.plugin/"
                                                "Contents/lib/TestPanelA.so</string><key>R2740PDEFactoryEntry</key>"
                                                "<string>R2740TestFactoryA</string></dict>"));
  EXPECT_FALSE(host::LoadPlugIn(escape, &error));
  EXPECT_NE(error.find("plain file name"), std::string::npos) << error;

  // Without the library key, the one library of Contents/lib is taken.
  auto implicit = BrokenCopy(dir, "Implicit", Plist("<dict><key>R2740PDEFactoryEntry</key>"
                                                    "<string>R2740TestFactoryA</string></dict>"));
  EXPECT_TRUE(host::LoadPlugIn(implicit, &error)) << error;

  // The folder loader reports each failure and goes on with the others.
  std::vector<std::string> errors;
  auto loaded = host::LoadPlugInFolder(dir.path(), &errors);
  ASSERT_EQ(loaded.size(), 1u);
  EXPECT_EQ(fs::path(loaded[0]->path()).filename(), "Implicit.plugin");
  EXPECT_EQ(errors.size(), 6u);
  for (const auto& e : errors) EXPECT_TRUE(oneLine(e)) << e;

  errors.clear();
  EXPECT_TRUE(host::LoadPlugInFolder(dir.file("missing-folder"), &errors).empty());
  EXPECT_EQ(errors.size(), 1u);
}
