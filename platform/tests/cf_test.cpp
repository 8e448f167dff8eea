#include "cf/cf.h"

#include <gtest/gtest.h>

using namespace cf;

TEST(CFValues, ContainersHandOutTheObjectTheyHold) {
  auto root = Dictionary::create();
  auto inner = Dictionary::create();
  root->setValue("R2740", inner);
  auto back = root->get<Dictionary>("R2740");
  ASSERT_EQ(back, inner);
  back->setValue("queue", str("x"));
  EXPECT_TRUE(Equal(root->get<Dictionary>("R2740")->getValue("queue"), str("x")));

  auto arr = Array::create({inner});
  EXPECT_EQ(arr->at<Dictionary>(0), inner);
  EXPECT_EQ(arr->at<String>(0), nullptr);  // wrong type answers null
  EXPECT_EQ(arr->at(5), nullptr);

  // copy() shares the objects, DeepCopy gives fresh containers.
  auto shallow = root->copy();
  EXPECT_EQ(shallow->get<Dictionary>("R2740"), inner);
  auto deep = As<Dictionary>(DeepCopy(root));
  ASSERT_TRUE(deep);
  EXPECT_NE(deep->get<Dictionary>("R2740"), inner);
  EXPECT_TRUE(Equal(deep, root));
  deep->get<Dictionary>("R2740")->setValue("queue", str("y"));
  EXPECT_TRUE(Equal(inner->getValue("queue"), str("x")));
}

TEST(CFValues, DeepCopyKeepsSharedAndCyclicShape) {
  auto shared = Array::create({num(1)});
  auto a = Array::create({shared, shared});
  a->append(a);  // a cycle must not recurse forever
  auto c = As<Array>(DeepCopy(a));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->at(0), c->at(1));
  EXPECT_NE(c->at(0), shared);
  EXPECT_EQ(c->at(2), c);
  EXPECT_FALSE(a->description().empty());
  a->remove(2);  // break the cycle so the test does not leak
  c->remove(2);
}

TEST(CFValues, DictionaryKeyOrderAndTypes) {
  auto d = Dictionary::create();
  d->setValue("b", num(2));
  d->setValue(num(7), str("seven"));
  d->setValue("a", num(1));
  d->setValue("C", num(3));
  std::vector<std::string> order;
  d->forEach([&](const Ref& k, const Ref&) {
    order.push_back(IsType(k, kStringTypeID) ? As<String>(k)->utf8() : "#" + k->description());
  });
  EXPECT_EQ(order, (std::vector<std::string>{"C", "a", "b", "#7"}));
  EXPECT_TRUE(Equal(d->getValue(num(7)), str("seven")));
  EXPECT_TRUE(Equal(d->getValue(Ref(str("a"))), num(1)));
  d->setValue("a", nullptr);
  EXPECT_FALSE(d->contains("a"));
  d->removeValue(Ref(num(7)));
  EXPECT_EQ(d->count(), 2u);

  EXPECT_EQ(GetTypeID(nullptr), 0u);
  EXPECT_TRUE(IsType(Boolean::kTrue(), kBooleanTypeID));
  EXPECT_EQ(Boolean::create(true), Boolean::kTrue());
  EXPECT_TRUE(Equal(nullptr, nullptr));
  EXPECT_FALSE(Equal(nullptr, num(0)));
  // An integer equals a real only when the real is that integer.
  EXPECT_TRUE(Equal(num(3), Number::createReal(3.0)));
  EXPECT_FALSE(Equal(num(3), Number::createReal(3.5)));
  EXPECT_EQ(Number::create(0x1'0000'0005LL)->sint32Value(), 5);
  EXPECT_EQ(Number::createReal(1e300)->int64Value(), INT64_MAX);
  EXPECT_EQ(Number::createReal(-2.9)->int64Value(), -2);
}

TEST(CFStrings, EncodingsDecodeAndRejectInvalidInput) {
  // Shift JIS: "日本" and a half-width katakana.
  const char sjis[] = "\x93\xfa\x96\x7b\xb1";
  auto s = String::createWithBytes(sjis, 5, kCFStringEncodingShiftJIS);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->utf8(), "日本ｱ");
  EXPECT_EQ(s->length(), 3u);
  EXPECT_EQ(s->getBytes(kCFStringEncodingShiftJIS), std::string(sjis, 5));
  // A lead byte without its trail byte is not Shift JIS.
  EXPECT_EQ(String::createWithBytes("\x93", 1, kCFStringEncodingShiftJIS), nullptr);

  // MacRoman differs from Latin 1 above 0x7F.
  auto mac = String::createWithBytes("\x8e\xa5\xd2", 3, kCFStringEncodingMacRoman);
  ASSERT_TRUE(mac);
  EXPECT_EQ(mac->utf8(), "é•“");
  EXPECT_EQ(mac->getBytes(kCFStringEncodingMacRoman), std::string("\x8e\xa5\xd2"));
  EXPECT_EQ(String::createWithBytes("\xe9", 1, kCFStringEncodingISOLatin1)->utf8(), "é");
  EXPECT_EQ(String::createWithBytes("\x80", 1, kCFStringEncodingWindowsLatin1)->utf8(), "€");

  EXPECT_EQ(String::createWithBytes("ab\x80", 3, kCFStringEncodingASCII), nullptr);
  EXPECT_TRUE(String::createWithBytes("abc", 3, kCFStringEncodingASCII));
  for (std::string bad : {"\xc3", "\xc0\xaf", "\xed\xa0\x80", "\xf5\x80\x80\x80", "a\xffz"})
    EXPECT_EQ(String::createWithBytes(bad.data(), bad.size(), kCFStringEncodingUTF8), nullptr) << bad;
  EXPECT_TRUE(String::createWithCString("\xf0\x9f\x98\x80", kCFStringEncodingUTF8));
  EXPECT_EQ(String::createWithBytes("x", 1, 0x7777), nullptr);  // unknown encoding

  // Characters that an encoding cannot represent.
  EXPECT_EQ(str("日本")->getBytes(kCFStringEncodingISOLatin1), std::nullopt);
  EXPECT_EQ(str("é")->getBytes(kCFStringEncodingASCII), std::nullopt);
  EXPECT_EQ(str("€")->getBytes(kCFStringEncodingWindowsLatin1), std::string("\x80"));
  // Both code points of the Shift JIS wave dash and minus encode.
  EXPECT_EQ(str("〜～−－")->getBytes(kCFStringEncodingShiftJIS), std::string("\x81\x60\x81\x60\x81\x7c\x81\x7c"));
  EXPECT_EQ(String::createWithBytes("a\\b", 3, kCFStringEncodingShiftJIS)->utf8(), "a\\b");

  // Length counts UTF-16 units: a character outside the BMP counts two.
  EXPECT_EQ(str("a😀")->length(), 3u);
  EXPECT_EQ(String::createWithUTF16(u"a😀")->utf8(), "a😀");
  EXPECT_EQ(String::createWithFormat("%d-%s", 5, "x")->utf8(), "5-x");
}

TEST(CFURL, PartsAndFilePaths) {
  auto u = URL::createWithString("lpd://user@192.168.0.5:515/queue%20one");
  ASSERT_TRUE(u);
  EXPECT_EQ(u->scheme(), "lpd");
  EXPECT_EQ(u->host(), "192.168.0.5");
  EXPECT_EQ(u->port(), 515);
  EXPECT_EQ(u->path(), "/queue one");
  EXPECT_EQ(URL::createWithString("DNSSD://[fe80::1]/x")->host(), "fe80::1");
  EXPECT_EQ(URL::createWithString("ipp://printer.local/ipp")->port(), -1);
  EXPECT_EQ(URL::createWithString(""), nullptr);
  EXPECT_EQ(URL::createWithString("no scheme"), nullptr);
  auto f = URL::createWithFileSystemPath("/Library/a b/ü#.plist");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->string(), "file:///Library/a%20b/%C3%BC%23.plist");
  EXPECT_EQ(f->fileSystemPath(), "/Library/a b/ü#.plist");
  EXPECT_EQ(u->fileSystemPath(), std::nullopt);
}
