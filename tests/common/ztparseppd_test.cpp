#include "ztparseppd.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "hbploption.h"
#include "runfilter.h"
#include "ztstring.h"

namespace {

struct Pairs {
  ZTMarkedCode list;
  ~Pairs() { ZTFreeMarkedCode(&list); }
  std::string Dump() const {
    std::string s;
    for (int i = 0; i < list.count; ++i) s += "[" + std::string(list.items[i].key) + "=" + list.items[i].value + "]";
    return s;
  }
};

TEST(CommonMarkedCode, PairsAndSpaces) {
  struct Case {
    const char* code;
    int rc;
    const char* pairs;
  } cases[] = {
      {"<</A 1 /B 2>>", 0, "[A=1 ][B=2]"},
      {"<<>>", 0, ""},
      {"<< /Key 5 >>", 0, "[Key=5 ]"},
      {"<<<<</X y>>", 0, "[X=y]"},
      {"<</Open to the end", 0, "[Open=to the end]"},
      {"<</Lone>>", 0, "[Lone=]"},
      {"no brackets", -1, ""},
      {"", -1, ""},
  };
  for (const auto& c : cases) {
    Pairs p;
    EXPECT_EQ(ZTParseMarkedCodeString(c.code, &p.list), c.rc) << c.code;
    EXPECT_EQ(p.Dump(), c.pairs) << c.code;
  }
}

TEST(CommonMarkedCode, LengthLimits) {
  std::string body511 = "/K " + std::string(508, 'v');  // 511 characters
  {
    // The value is longer than an item may be: refused as a whole.
    Pairs p;
    EXPECT_EQ(ZTParseMarkedCodeString(("<<" + body511 + ">>").c_str(), &p.list), -1);
    EXPECT_EQ(p.list.count, 0);
  }
  std::string many;
  while (many.size() + 8 <= 511) many += "/K" + std::to_string(many.size() % 10) + " 1234";
  many.resize(511, ' ');
  {
    Pairs p;
    EXPECT_EQ(ZTParseMarkedCodeString(("<<" + many + ">>").c_str(), &p.list), 0);
    EXPECT_GT(p.list.count, 50);
  }
  {
    Pairs p;
    testing::internal::CaptureStderr();
    EXPECT_EQ(ZTParseMarkedCodeString(("<<" + many + " >>").c_str(), &p.list), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "WARNING: Code Length (512) exceeds limit.\n");
    EXPECT_EQ(p.list.count, 0);
  }
  for (size_t len : {63u, 64u}) {
    Pairs key, value;
    std::string item(len, 'x');
    int expected = len <= 63 ? 0 : -1;
    EXPECT_EQ(ZTParseMarkedCodeString(("<</" + item + " 1>>").c_str(), &key.list), expected) << len;
    EXPECT_EQ(ZTParseMarkedCodeString(("<</K " + item + ">>").c_str(), &value.list), expected) << len;
    EXPECT_EQ(key.list.count, expected == 0 ? 1 : 0);
  }
}

TEST(CommonMarkedCode, FromTheMarkedChoiceOfAPPD) {
  TempFile ppdFile(SamplePPDText(), ".ppd");
  setenv("PPD", ppdFile.path().c_str(), 1);
  ZTPPDSetting s;
  ASSERT_EQ(s.Create("QKDocumentType=Photo"), 0);
  Pairs p;
  ASSERT_EQ(ZTParseMarkedCode(s.ppd, "QKDocumentType", &p.list), 0);
  EXPECT_STREQ(ZTFindCodeValue(&p.list, "QKDLUT"), "2 ");
  EXPECT_STREQ(ZTFindCodeValue(&p.list, "QKMONOSCREEN"), "2");
  EXPECT_EQ(ZTFindCodeValue(&p.list, "QKNONE"), nullptr);
  Pairs none;
  EXPECT_EQ(ZTParseMarkedCode(s.ppd, "QKNoSuchOption", &none.list), -1);
  EXPECT_EQ(ZTParseMarkedCode(s.ppd, "Duplex", &none.list), -1);  // empty code, no "<"
}

TEST(CommonMarkedCode, StringHelpers) {
  const char* s = "abc/def";
  EXPECT_EQ(SkipUntil(s, '/'), s + 3);
  EXPECT_EQ(SkipUntil(s, '#'), nullptr);
  char out[8];
  EXPECT_EQ(StrCpyUntil(out, sizeof out, s, '/'), s + 3);
  EXPECT_STREQ(out, "abc");
  EXPECT_EQ(StrCpyUntil(out, sizeof out, s, '#'), s + 7);
  EXPECT_STREQ(out, "abc/def");
  EXPECT_EQ(StrCpyUntil(out, 4, s, '#'), s + 3);  // cut at the buffer, never past it
  EXPECT_STREQ(out, "abc");
}

TEST(CommonPPDText, AttributeFromFileText) {
  TempFile f("*PPD-Adobe: \"4.3\"\n*QKFilterDirX: \"wrong\"\n*QKNoQuote: value\n*QKFilterDir: \"/usr/lib/x\"\n"
             "*QKMulti: \"first line\nsecond\"\n");
  char v[64];
  EXPECT_EQ(ZTGetPPDAttribute(f.path().c_str(), "QKFilterDir", v, sizeof v), 0);
  EXPECT_STREQ(v, "wrong");  // a prefix comparison: the longer keyword comes first
  EXPECT_EQ(ZTGetPPDAttribute(f.path().c_str(), "QKMulti", v, sizeof v), 0);
  EXPECT_STREQ(v, "first line\n");
  EXPECT_EQ(ZTGetPPDAttribute(f.path().c_str(), "QKNoQuote", v, sizeof v), 1);
  EXPECT_EQ(ZTGetPPDAttribute(f.path().c_str(), "QKMissing", v, sizeof v), 1);
  EXPECT_EQ(ZTGetPPDAttribute("/nonexistent", "QKFilterDir", v, sizeof v), -1);
  char small[4];
  EXPECT_EQ(ZTGetPPDAttribute(f.path().c_str(), "QKFilterDir", small, sizeof small), 0);
  EXPECT_STREQ(small, "wro");
}

}  // namespace
