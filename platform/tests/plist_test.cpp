#include "cf/plist.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace cf;
namespace fs = std::filesystem;

namespace {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "plist_test.XXXXXX").string();
    path_ = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, ec);
    fs::remove_all(path_, ec);
  }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Runs the reference converter; true when it exited 0.
bool Plistutil(const std::string& in, const std::string& out, const char* format) {
  std::string cmd = "plistutil -i '" + in + "' -o '" + out + "' -f " + format + " >/dev/null 2>&1";
  int rc = std::system(cmd.c_str());
  return rc != -1 && WIFEXITED(rc) && WEXITSTATUS(rc) == 0;
}

void PutBE(std::string& out, uint64_t v, int n) {
  for (int i = n - 1; i >= 0; --i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string BinaryTrailer(std::string body, const std::vector<uint64_t>& offsets) {
  uint64_t table = body.size();
  for (uint64_t o : offsets) PutBE(body, o, 4);
  body.append(6, '\0');
  body.push_back(4);  // offset size
  body.push_back(4);  // reference size
  PutBE(body, offsets.size(), 8);
  PutBE(body, 0, 8);
  PutBE(body, table, 8);
  return body;
}

// A binary list of n arrays, each holding the next; with cycle, the last
// holds the first.
std::string BinaryChain(int n, bool cycle) {
  std::string body = "bplist00";
  std::vector<uint64_t> offsets;
  for (int i = 0; i < n; ++i) {
    offsets.push_back(body.size());
    if (i + 1 < n || cycle) {
      body.push_back(static_cast<char>(0xA1));
      PutBE(body, i + 1 < n ? i + 1 : 0, 4);
    } else {
      body.push_back(static_cast<char>(0xA0));
    }
  }
  return BinaryTrailer(body, offsets);
}

// A binary list holding one string object (ASCII, or UTF-16 big-endian).
std::string BinaryString(const std::string& s, bool utf16 = false) {
  std::string body = "bplist00";
  body.push_back(static_cast<char>((utf16 ? 0x60 : 0x50) | (utf16 ? s.size() / 2 : s.size())));
  body += s;
  return BinaryTrailer(body, {8});
}

DictionaryRef Sample() {
  auto d = Dictionary::create();
  d->setValue("zeta", str("last"));
  d->setValue("alpha", str("x < y & \"q\" > 'z' 日本"));
  d->setValue("empty", str(""));
  d->setValue("neg32", num(-1));
  d->setValue("negmin", num(INT64_MIN));
  d->setValue("max", num(INT64_MAX));
  d->setValue("int32min", num(INT32_MIN));
  d->setValue("real", Number::createReal(-0.1));
  d->setValue("whole", Number::createReal(3.0));
  d->setValue("yes", Boolean::kTrue());
  d->setValue("no", Boolean::kFalse());
  d->setValue("data", Data::create(std::string("\0\x01\xff", 3)));
  auto list = Array::create({str("a"), num(0), Dictionary::create(), Array::create()});
  d->setValue("list", list);
  auto inner = Dictionary::create();
  inner->setValue("InMenu", num(3));
  d->setValue("Inner", inner);
  return d;
}

}  // namespace

TEST(PropertyList, WritesThePlatformFormWithSortedKeys) {
  auto d = Dictionary::create();
  d->setValue("b", num(-2));
  d->setValue("a", str("x"));
  auto xml = PropertyListCreateXMLData(d);
  ASSERT_TRUE(xml);
  EXPECT_EQ(*xml,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
            "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
            "<plist version=\"1.0\">\n"
            "<dict>\n"
            "\t<key>a</key>\n"
            "\t<string>x</string>\n"
            "\t<key>b</key>\n"
            "\t<integer>-2</integer>\n"
            "</dict>\n"
            "</plist>\n");
}

TEST(PropertyList, RoundTripThroughOurReaderAndPlistutil) {
  TempDir dir;
  auto d = Sample();
  std::string err;
  ASSERT_TRUE(PropertyListWriteToFile(d, dir.file("a.plist"), true, &err)) << err;
  std::string xml = ReadText(dir.file("a.plist"));
  EXPECT_NE(xml.find("<integer>-1</integer>"), std::string::npos);
  EXPECT_NE(xml.find("<integer>-9223372036854775808</integer>"), std::string::npos);
  EXPECT_LT(xml.find("<key>Inner</key>"), xml.find("<key>alpha</key>"));

  auto back = As<Dictionary>(PropertyListCreateFromFile(dir.file("a.plist"), &err));
  ASSERT_TRUE(back) << err;
  EXPECT_TRUE(Equal(back, d)) << back->description();
  EXPECT_FALSE(back->get<Number>("real")->isReal() == false);
  EXPECT_FALSE(back->get<Number>("neg32")->isReal());
  EXPECT_EQ(back->get<Number>("neg32")->sint32Value(), -1);

  // The reference converter reads our XML; its binary form reads back equal,
  // and its XML rendering of that binary reads back equal too.
  ASSERT_TRUE(Plistutil(dir.file("a.plist"), dir.file("a.bin"), "bin"));
  auto fromBin = PropertyListCreateFromFile(dir.file("a.bin"), &err);
  ASSERT_TRUE(fromBin) << err;
  EXPECT_TRUE(Equal(fromBin, d)) << fromBin->description();
  ASSERT_TRUE(Plistutil(dir.file("a.bin"), dir.file("b.plist"), "xml"));
  auto fromXml = PropertyListCreateFromFile(dir.file("b.plist"), &err);
  ASSERT_TRUE(fromXml) << err;
  EXPECT_TRUE(Equal(fromXml, d));
}

TEST(PropertyList, BadInputFailsWithOneLineReason) {
  auto good = PropertyListCreateXMLData(Sample());
  ASSERT_TRUE(good);
  std::vector<std::string> bad = {
      "",
      "   \n",
      "hello world",
      "<html><body/></html>",
      "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>a</key></plist>",
      "<plist version=\"1.0\"><string>\xff\xfe</string></plist>",
      "bplist00garbage-garbage-garbage",
      std::string("bplist00\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 40),
  };
  for (const auto& text : bad) {
    std::string err;
    EXPECT_EQ(PropertyListCreateWithData(text, &err), nullptr) << text;
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(err.find('\n'), std::string::npos) << err;
  }
  // Every truncation of a valid document fails cleanly (never crashes, never
  // answers a half-read tree).
  std::string text = *good;
  size_t closing = text.rfind("</plist>");
  for (size_t n = 0; n < closing + 7; ++n) {
    std::string err;
    EXPECT_EQ(PropertyListCreateWithData(std::string_view(text).substr(0, n), &err), nullptr) << n;
    EXPECT_FALSE(err.empty());
  }
  EXPECT_TRUE(PropertyListCreateWithData(text));
  // A byte order mark in front is fine.
  EXPECT_TRUE(PropertyListCreateWithData("\xEF\xBB\xBF" + text));

  TempDir dir;
  std::string err;
  EXPECT_EQ(PropertyListCreateFromFile(dir.file("missing.plist"), &err), nullptr);
  EXPECT_NE(err.find("missing.plist"), std::string::npos);
  WriteText(dir.file("empty.plist"), "");
  EXPECT_EQ(PropertyListCreateFromFile(dir.file("empty.plist"), &err), nullptr);
  EXPECT_NE(err.find("empty"), std::string::npos);
  EXPECT_EQ(PropertyListCreateFromFile(dir.path(), &err), nullptr);
  WriteText(dir.file("cut.plist"), text.substr(0, text.size() / 2));
  EXPECT_EQ(PropertyListCreateFromFile(dir.file("cut.plist"), &err), nullptr);

  // Deep nesting is refused before the library's recursion overflows the stack.
  std::string deep = "<plist version=\"1.0\">";
  for (int i = 0; i < 200000; ++i) deep += "<array>";
  for (int i = 0; i < 200000; ++i) deep += "</array>";
  deep += "</plist>";
  EXPECT_EQ(PropertyListCreateWithData(deep, &err), nullptr);
  EXPECT_NE(err.find("nesting"), std::string::npos);
  EXPECT_EQ(PropertyListCreateWithData(BinaryChain(100000, false), &err), nullptr);
  EXPECT_NE(err.find("nesting"), std::string::npos);
  EXPECT_EQ(PropertyListCreateWithData(BinaryChain(3, true), &err), nullptr);
  auto shallow = As<Array>(PropertyListCreateWithData(BinaryChain(3, false), &err));
  ASSERT_TRUE(shallow) << err;
  EXPECT_EQ(shallow->at<Array>(0)->at<Array>(0)->count(), 0u);

  // Raw NUL bytes in XML, and NULs inside binary strings.
  EXPECT_EQ(PropertyListCreateWithData(std::string("<plist><string>a\0b</string></plist>", 34), &err), nullptr);
  EXPECT_EQ(PropertyListCreateWithData(BinaryString(std::string("\0a\0\0\0b", 6), true), &err), nullptr);
  EXPECT_NE(err.find("NUL"), std::string::npos) << err;
  EXPECT_EQ(As<String>(PropertyListCreateWithData(BinaryString("ab"), &err))->utf8(), "ab") << err;
}

TEST(PropertyList, DatesReadAsSecondsAndUnwritableValuesFail) {
  auto v = PropertyListCreateWithData(
      "<plist version=\"1.0\"><date>2001-01-02T00:00:00Z</date></plist>");
  ASSERT_TRUE(IsType(v, kNumberTypeID));
  EXPECT_DOUBLE_EQ(As<Number>(v)->doubleValue(), 86400.0);

  std::string err;
  EXPECT_FALSE(PropertyListCreateXMLData(nullptr, &err));
  auto withURL = Dictionary::create();
  withURL->setValue("u", URL::createWithString("file:///x"));
  EXPECT_FALSE(PropertyListCreateXMLData(withURL, &err));
  EXPECT_NE(err.find("URL"), std::string::npos);
  auto numKey = Dictionary::create();
  numKey->setValue(num(1), str("x"));
  EXPECT_FALSE(PropertyListCreateXMLData(numKey, &err));
  EXPECT_FALSE(PropertyListCreateXMLData(Array::create({str(std::string("a\0b", 3))}), &err));
  EXPECT_FALSE(PropertyListCreateXMLData(str("\xff"), &err));
  auto cyclic = Array::create();
  cyclic->append(cyclic);
  EXPECT_FALSE(PropertyListCreateXMLData(cyclic, &err));
  cyclic->removeAll();
}

TEST(PropertyList, FailedWriteLeavesOldFileWhole) {
  TempDir dir;
  std::string target = dir.file("p.plist");
  ASSERT_TRUE(PropertyListWriteToFile(Sample(), target));
  std::string before = ReadText(target);

  // A value that cannot be written: nothing changes, no temp file stays.
  auto bad = Sample();
  bad->setValue("url", URL::createWithString("http://x/"));
  std::string err;
  EXPECT_FALSE(PropertyListWriteToFile(bad, target, true, &err));
  EXPECT_EQ(ReadText(target), before);

  // A folder we may not write into (skipped as root, who may write anyway).
  if (geteuid() != 0) {
    fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(PropertyListWriteToFile(Dictionary::create(), target, true, &err));
    EXPECT_FALSE(err.empty());
    fs::permissions(dir.path(), fs::perms::owner_all);
    EXPECT_EQ(ReadText(target), before);
  }
  // A write that fails halfway (file size limit): the old file stays whole
  // and no temporary file is left behind.
  {
    struct rlimit old {};
    getrlimit(RLIMIT_FSIZE, &old);
    auto oldHandler = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = {64, old.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    bool ok = PropertyListWriteToFile(Sample(), target, true, &err);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(ok);
    EXPECT_FALSE(err.empty());
    EXPECT_EQ(ReadText(target), before);
    size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 1u);
  }
  // Into a missing folder.
  EXPECT_FALSE(PropertyListWriteToFile(Sample(), dir.file("no/such/p.plist"), true, &err));

  // A good write replaces it; only the target is left in the folder.
  auto small = Dictionary::create();
  small->setValue("k", str("v"));
  ASSERT_TRUE(PropertyListWriteToFile(small, target, true, &err)) << err;
  EXPECT_TRUE(Equal(PropertyListCreateFromFile(target), small));
  size_t files = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u);

  // Non-atomic writes work too.
  ASSERT_TRUE(PropertyListWriteToFile(Sample(), target, false, &err)) << err;
  EXPECT_TRUE(Equal(PropertyListCreateFromFile(target), Sample()));
}
