#include "vynIdCharsets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "vynCodePages.h"

namespace vyn {
namespace {

uint32_t CodePageOf(StringView AName) { return CharsetTable()[IndexOfCharset(AName)].CodePage; }

uint32_t CodePageOf(const IIdTextEncoding& AEncoding) {
  const auto* mbcs = dynamic_cast<const TIdMBCSEncoding*>(AEncoding.get());
  return mbcs ? mbcs->CodePage() : 0;
}

TEST(Charsets, TableShape) {
  const auto table = CharsetTable();
  ASSERT_GT(table.size(), 800u);
  EXPECT_EQ(StringView(table[0].Name), u"");
  EXPECT_EQ(table[0].CodePage, 0u);
  std::set<String> seen;
  for (size_t i = 1; i < table.size(); ++i) {
    const StringView name = table[i].Name;
    ASSERT_FALSE(name.empty()) << i;
    for (char16_t c : name) ASSERT_TRUE(c > u' ' && c < 127) << ToUtf8(name);
    EXPECT_TRUE(seen.insert(UpperCase(name)).second) << "twice: " << ToUtf8(name);
  }
}

TEST(Charsets, NamesMapToTheirCodePages) {
  struct Case {
    const char16_t* name;
    uint32_t codePage;
  };
  const Case cases[] = {
      {u"US-ASCII", 20127},       {u"ANSI_X3.4-1968", 20127},  {u"ASCII", 20127},
      {u"us", 20127},             {u"IBM367", 20127},          {u"csASCII", 20127},
      {u"UTF-8", 65001},          {u"UTF-7", 65000},           {u"UTF-16LE", 1200},
      {u"UTF-16BE", 1201},        {u"UTF-32LE", 12000},        {u"UTF-32BE", 12001},
      {u"ISO-10646-UTF-1", 0},    {u"csISO10646UTF1", 0},      {u"ISO-8859-1", 28591},
      {u"latin1", 28591},         {u"ISO_8859-2:1987", 28592}, {u"csISOLatinHebrew", 28598},
      {u"ISO-8859-8-I", 38598},   {u"ISO-8859-15", 28605},     {u"ISO-8859-13", 28603},
      {u"ISO-8859-16", 0},        {u"windows-1250", 1250},     {u"windows-1258", 1258},
      {u"Shift_JIS", 932},        {u"MS_Kanji", 932},          {u"Windows-31J", 932},
      {u"GBK", 936},              {u"GB2312", 936},            {u"Big5", 950},
      {u"KS_C_5601-1987", 949},   {u"EUC-KR", 51949},          {u"KOI8-R", 20866},
      {u"KOI8-U", 21866},         {u"ISO-2022-JP", 50220},     {u"csISO2022JP", 50221},
      {u"EUC-JP", 51932},         {u"GB18030", 54936},         {u"IBM437", 437},
      {u"cp850", 850},            {u"IBM00858", 858},          {u"ebcdic-cp-us", 37},
      {u"IBM01141", 1141},        {u"macintosh", 10000},       {u"TIS-620", 874},
      {u"UNICODE-1-1-UTF-7", 65000}, {u"csUTF8", 65001},       {u"hp-roman8", 0},
      // case is ignored
      {u"utf-8", 65001},          {u"SHIFT_jis", 932},         {u"CSASCII", 20127},
      // the short spellings
      {u"UTF7", 65000},           {u"utf8", 65001},            {u"UTF16", 1200},
      {u"utf16le", 1200},         {u"UTF16BE", 1201},          {u"UTF32", 12000},
      {u"UTF32LE", 12000},        {u"utf32be", 12001},
      // nothing matches: entry 0
      {u"no-such-charset", 0},    {u"UTF-9", 0},               {u" utf-8", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(CodePageOf(c.name), c.codePage) << ToUtf8(c.name);
  EXPECT_EQ(IndexOfCharset(u"no-such-charset"), 0);
  EXPECT_EQ(IndexOfCharset(u"UTF8"), IndexOfCharset(u"UTF-8"));
}

// Every code page the table names is one the converter handles, or one of the few that
// this platform cannot convert (and then EncodingForCharset falls back to 8-bit).
TEST(Charsets, EveryCodePageIsConvertedOrKnowinglyAbsent) {
  const std::set<uint32_t> absent = {20105, 20838, 20924, 52936};
  std::set<uint32_t> used;
  for (const auto& entry : CharsetTable())
    if (entry.CodePage) used.insert(entry.CodePage);
  for (uint32_t cp : used) {
    TCodePageInfo info;
    const bool converted = GetCodePageInfo(cp, info);
    EXPECT_NE(converted, absent.count(cp) == 1) << cp;
    if (!converted) continue;
    EXPECT_EQ(info.CodePage, cp);
    const IIdTextEncoding enc = EncodingForCodePage(cp);
    EXPECT_EQ(enc->GetString(enc->GetBytes(u"AZ09")), u"AZ09") << cp;
  }
  for (uint32_t cp : absent) EXPECT_TRUE(used.count(cp)) << cp << " is no longer used: drop it";
}

TEST(Charsets, EncodingForCharsetGivesSharedInstancesAndFallsBackTo8Bit) {
  EXPECT_EQ(EncodingForCharset(u"utf-8").get(), EncodingUTF8().get());
  EXPECT_EQ(EncodingForCharset(u"UTF8").get(), EncodingUTF8().get());
  EXPECT_EQ(EncodingForCharset(u"UTF-7").get(), EncodingUTF7().get());
  EXPECT_EQ(EncodingForCharset(u"utf16").get(), EncodingUTF16LE().get());
  EXPECT_EQ(EncodingForCharset(u"UTF-16BE").get(), EncodingUTF16BE().get());
  EXPECT_EQ(EncodingForCharset(u"us-ascii").get(), EncodingASCII().get());

  EXPECT_EQ(EncodingForCharset(u"").get(), Encoding8Bit().get());
  EXPECT_EQ(EncodingForCharset(u"ISO-10646-UTF-1").get(), Encoding8Bit().get());
  EXPECT_EQ(EncodingForCharset(u"no-such-charset").get(), Encoding8Bit().get());
  // In the table, but this platform has no converter for the code page.
  EXPECT_EQ(EncodingForCharset(u"HZ-GB-2312").get(), Encoding8Bit().get());
  EXPECT_EQ(EncodingForCharset(u"IBM-Thai").get(), Encoding8Bit().get());

  EXPECT_EQ(CodePageOf(EncodingForCharset(u"latin1")), 28591u);
  EXPECT_EQ(CodePageOf(EncodingForCharset(u"UTF32")), 12000u);
  const IIdTextEncoding sjis = EncodingForCharset(u"Shift_JIS");
  EXPECT_EQ(CodePageOf(sjis), 932u);
  EXPECT_EQ(sjis->GetString(TIdBytes{0x93, 0xFA, 0x96, 0x7B}), u"\u65E5\u672C");
}

// Installs a hook for one test and removes it again.
class HookGuard {
public:
  explicit HookGuard(TIdCharsetLookupHook AHook) { CharsetLookupHook = AHook; }
  ~HookGuard() { CharsetLookupHook = nullptr; }
};

int gHookCalls = 0;

IIdTextEncoding TestHook(const String& ACharset) {
  ++gHookCalls;
  if (SameText(ACharset, u"x-private")) return EncodingUTF7();
  if (SameText(ACharset, u"utf-8")) return EncodingASCII();
  return nullptr;
}

TEST(Charsets, HookTakesPrecedenceAndNullFallsThroughToTheTable) {
  {
    HookGuard guard(TestHook);
    gHookCalls = 0;
    EXPECT_EQ(EncodingForCharset(u"x-private").get(), EncodingUTF7().get());
    EXPECT_EQ(EncodingForCharset(u"UTF-8").get(), EncodingASCII().get());
    EXPECT_EQ(EncodingForCharset(u"UTF-16BE").get(), EncodingUTF16BE().get());
    EXPECT_EQ(EncodingForCharset(u"x-other").get(), Encoding8Bit().get());
    EXPECT_EQ(gHookCalls, 4);
    EXPECT_EQ(EncodingForCharset(u"").get(), Encoding8Bit().get());
    EXPECT_EQ(gHookCalls, 4) << "an empty name is 8-bit before the hook is asked";
  }
  EXPECT_EQ(EncodingForCharset(u"UTF-8").get(), EncodingUTF8().get());
  EXPECT_EQ(EncodingForCharset(u"x-private").get(), Encoding8Bit().get());
}

}  // namespace
}  // namespace vyn
