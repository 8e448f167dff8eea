#include "bundle/bundle.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

std::string UTF16(const std::string& utf8, bool little) {
  std::u16string units = cf::str(utf8)->utf16();
  std::string out = little ? std::string("\xFF\xFE", 2) : std::string("\xFE\xFF", 2);
  for (char16_t u : units) {
    char lo = static_cast<char>(u & 0xFF), hi = static_cast<char>(u >> 8);
    out += little ? std::string{lo, hi} : std::string{hi, lo};
  }
  return out;
}

TEST(StringsTest, ParsesEntriesCommentsAndEscapes) {
  std::string error;
  auto t = bndl::ParseStrings(
      "/* comment \"x\" = \"y\"; */\n"
      "\"Color Options\" = \"Color Options\";\n"
      "// line comment\n"
      "\"Empty\" = \"\";\n"
      "\"Esc\" = \"q\\\"b\\\\n\\nt\\tr\\r\";\n"
      "\"Nul\" = \"a\\0b\";\n"
      "\"Uni\" = \"\\U65E5\\U672C \\UD83D\\UDE00\";\n"
      "Bare = value.1;\n"
      "\"Self\";\n"
      "\"Dup\" = \"one\"; \"Dup\" = \"two\";",
      &error);
  ASSERT_TRUE(t) << error;
  auto& e = t->entries;
  EXPECT_EQ(e.at("Color Options"), "Color Options");
  EXPECT_EQ(e.at("Empty"), "");
  EXPECT_EQ(e.at("Esc"), "q\"b\\n\nt\tr\r");
  EXPECT_EQ(e.at("Nul"), std::string("a\0b", 3));
  EXPECT_EQ(e.at("Uni"), "日本 😀");
  EXPECT_EQ(e.at("Bare"), "value.1");
  EXPECT_EQ(e.at("Self"), "Self");
  EXPECT_EQ(e.at("Dup"), "two");
  EXPECT_EQ(e.count("x"), 0u);

  EXPECT_TRUE(bndl::ParseStrings(""));
  EXPECT_TRUE(bndl::ParseStrings("\xEF\xBB\xBF/* only a comment */"));
}

TEST(StringsTest, UTF16WithByteOrderMark) {
  std::string text = "/* 日本語 */\n\"Disk\" = \"ディスク\";\n\"Card\" = \"カード\\U0021\";\n";
  for (bool little : {true, false}) {
    std::string error;
    auto t = bndl::ParseStrings(UTF16(text, little), &error);
    ASSERT_TRUE(t) << error;
    EXPECT_EQ(t->entries.at("Disk"), "ディスク");
    EXPECT_EQ(t->entries.at("Card"), "カード!");
  }
}

TEST(StringsTest, MalformedInputFailsWithReason) {
  const std::string bad[] = {
      "\"a\" = \"b\"",             // no semicolon
      "\"a\" = \"b",               // unterminated string
      "\"a\" \"b\";",              // no "="
      "/* open comment",           //
      "\"a\" = ;",                 // no value
      "\"a\" = \"\\U12\";",        // short \U
      "\"a\" = \"\\UD800\";",      // lone surrogate
      "\"a\" = \"\xC3\x28\";",     // invalid UTF-8
      std::string("\xFF\xFE\x41", 3),  // odd UTF-16
      "= \"b\";",
  };
  for (const auto& b : bad) {
    std::string error;
    EXPECT_FALSE(bndl::ParseStrings(b, &error)) << b;
    EXPECT_FALSE(error.empty()) << b;
  }
  std::string error;
  bndl::ParseStrings("\"a\" = \"b\";\n\"c\" = \"d\"\n\"e\" = \"f\";", &error);
  EXPECT_NE(error.find("line 3"), std::string::npos) << error;
}

class BundleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("bundle_test_" + std::to_string(getpid()));
    fs::remove_all(root_);
    path_ = (root_ / "Test.plugin").string();
    fs::create_directories(path_ + "/Contents/Resources/en.lproj");
    fs::create_directories(path_ + "/Contents/Resources/ja.lproj");
    fs::create_directories(path_ + "/Contents/Resources/fr.lproj");
    write("Contents/Info.plist",
          "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
          "<key>CFBundleIdentifier</key><string>jp.orvessa.test</string>"
          "<key>CFBundleDevelopmentRegion</key><string>en</string></dict></plist>\n");
    write("Contents/Resources/en.lproj/Localizable.strings",
          "\"Disk\" = \"Disk\";\n\"Card\" = \"Card\";\n\"Blank\" = \"\";\n");
    write("Contents/Resources/ja.lproj/Localizable.strings", UTF16("\"Disk\" = \"ディスク\";\n", true));
    write("Contents/Resources/fr.lproj/Localizable.strings", "\"Disk\" = \"Disque\"\n");  // malformed
    write("Contents/Resources/en.lproj/Other.strings", "\"k\" = \"v\";");
    write("Contents/Resources/ja.lproj/Main.ui.plist", "ja");
    write("Contents/Resources/Main.ui.plist", "base");
    write("Contents/Resources/Icon.png", "png");
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    unsetenv("LANG");
    unsetenv("LANGUAGE");
    unsetenv("R2740_LANG");
  }
  void TearDown() override { fs::remove_all(root_); }
  void write(const std::string& rel, const std::string& bytes) {
    std::ofstream out(path_ + "/" + rel, std::ios::binary);
    out << bytes;
  }
  fs::path root_;
  std::string path_;
};

TEST_F(BundleTest, OpensOnlyRealBundles) {
  std::string error;
  EXPECT_EQ(bndl::Bundle::bundleWithPath((root_ / "Missing.plugin").string(), &error), nullptr);
  EXPECT_FALSE(error.empty());
  fs::create_directories(root_ / "Bad.plugin/Contents");
  EXPECT_EQ(bndl::Bundle::bundleWithPath((root_ / "Bad.plugin").string()), nullptr);
  std::ofstream(root_ / "Bad.plugin/Contents/Info.plist") << "<plist version=\"1.0\"><array/></plist>";
  error.clear();
  EXPECT_EQ(bndl::Bundle::bundleWithPath((root_ / "Bad.plugin").string(), &error), nullptr);
  EXPECT_FALSE(error.empty());

  auto b = bndl::Bundle::bundleWithPath(path_ + "/");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->bundlePath(), path_);
  EXPECT_EQ(b->bundleIdentifier(), "jp.orvessa.test");
  EXPECT_EQ(b->objectForInfoDictionaryKey("Nope"), nullptr);
}

TEST_F(BundleTest, LanguageOrderAndLookups) {
  auto b = bndl::Bundle::bundleWithPath(path_);
  ASSERT_NE(b, nullptr);
  setenv("R2740_LANG", "de:ja_JP:en", 1);
  setenv("LC_MESSAGES", "fr_FR.UTF-8@euro", 1);
  setenv("LANG", "it_IT.UTF-8", 1);  // LC_MESSAGES wins
  EXPECT_EQ(b->preferredLocalizations(),
            (std::vector<std::string>{"de", "ja_JP", "ja", "en", "fr_FR", "fr", "Base"}));
  unsetenv("LC_MESSAGES");
  // Japanese table (UTF-16) is the first that exists.
  EXPECT_EQ(b->localizedString("Disk"), "ディスク");
  // A key missing from the chosen table has no localization, even though
  // the English table has it.
  EXPECT_EQ(b->localizedString("Card"), std::nullopt);
  EXPECT_EQ(b->localizedCFString("Card"), nullptr);
  EXPECT_EQ(b->pathForResource("Main", "ui.plist"), path_ + "/Contents/Resources/ja.lproj/Main.ui.plist");
  EXPECT_EQ(b->pathForResource("Icon", "png"), path_ + "/Contents/Resources/Icon.png");
  EXPECT_EQ(b->pathForResource("Nothing", "png"), std::nullopt);

  // A malformed table answers "no localization" for every key.
  setenv("R2740_LANG", "fr", 1);
  EXPECT_EQ(b->localizedString("Disk"), std::nullopt);

  // English: missing key vs empty value.
  unsetenv("R2740_LANG");
  setenv("LANG", "C", 1);
  EXPECT_EQ(b->preferredLocalizations(), (std::vector<std::string>{"en", "Base"}));
  EXPECT_EQ(b->localizedString("Blank"), std::string());
  EXPECT_EQ(b->localizedString("Missing"), std::nullopt);
  EXPECT_EQ(b->localizedString("k", "Other"), "v");
  EXPECT_EQ(b->localizedString("k", "NoSuchTable"), std::nullopt);
  EXPECT_EQ(b->localizedCFString("Disk")->utf8(), "Disk");
  EXPECT_EQ(b->pathForResource("Main", "ui.plist"), path_ + "/Contents/Resources/Main.ui.plist");

  setenv("LC_ALL", "ja_JP.UTF-8", 1);
  EXPECT_EQ(b->localizedString("Disk"), "ディスク");

  // LANGUAGE comes after R2740_LANG and before the locale, also when the
  // locale is C.
  setenv("LC_ALL", "C.UTF-8", 1);
  setenv("LANGUAGE", "ja:fr_CA", 1);
  EXPECT_EQ(bndl::PreferredLanguages(), (std::vector<std::string>{"ja", "fr_CA", "fr"}));
  EXPECT_EQ(b->localizedString("Disk"), "ディスク");
  setenv("LC_ALL", "de_DE", 1);
  setenv("R2740_LANG", "en", 1);
  EXPECT_EQ(bndl::PreferredLanguages(), (std::vector<std::string>{"en", "ja", "fr_CA", "fr", "de_DE", "de"}));
  EXPECT_EQ(b->localizedString("Disk"), "Disk");
  unsetenv("LANGUAGE");
  unsetenv("LC_ALL");
}

TEST_F(BundleTest, ConcurrentLookupsShareTheCache) {
  auto b = bndl::Bundle::bundleWithPath(path_);
  ASSERT_NE(b, nullptr);
  setenv("R2740_LANG", "ja", 1);
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int i = 0; i < 4; ++i)
    threads.emplace_back([&] {
      for (int k = 0; k < 200; ++k)
        if (b->localizedString("Disk") == "ディスク") ++good;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(good, 800);
}

}  // namespace
