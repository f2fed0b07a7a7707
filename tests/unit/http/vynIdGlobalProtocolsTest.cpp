#include "vynIdGlobalProtocols.h"

#include <gtest/gtest.h>

namespace vyn {
namespace {

TEST(MergePath, ResolvesRelativePaths) {
  struct Case {
    String Base, Path, Out;
  };
  const Case cases[] = {
      {u"/a/b/", u"../", u"/a/"},
      {u"/a/", u"", u"/a/"},
      {u"/a/b", u"x/", u"/a/b/x/"},
      {u"/a/b", u"x", u"/a/b/x"},
      {u"/a/b", u"", u"/a/b/"},
      {u"/a/", u"/z/", u"/z/"},
      // an absolute path is taken as it is, dots and doubled slashes included
      {u"/a/", u"/z/../y//", u"/z/../y//"},
      {u"/a/b/", u"x/../y/", u"/a/b/y/"},
      {u"/a/b/c/", u"../../", u"/a/"},
      // going up stops at the root
      {u"/a/b/", u"../../../../", u"/"},
      {u"/a/", u"../../x/", u"/x/"},
      // ".." as the last segment: the trailing slash follows the relative path
      {u"/a/b/", u"..", u"/a"},
      {u"/a/", u"..", u"/"},
      // single dots stay
      {u"/a/", u"./", u"/a/./"},
      {u"/a/", u"./x/./", u"/a/./x/./"},
      // only a whole ".." segment goes up
      {u"/a/", u"..foo/", u"/a/..foo/"},
      {u"/a/", u"foo../", u"/a/foo../"},
      {u"/a/", u".../", u"/a/.../"},
      {u"/a/", u"x/..y/../", u"/a/x/"},
      // runs of slashes collapse
      {u"/a//b/", u"c//d/", u"/a/b/c/d/"},
      {u"//a/", u"b", u"/a/b"},
      // empty and relative bases
      {u"", u"", u""},
      {u"", u"a/", u"a/"},
      {u"", u"../x/", u"../x/"},
      {u"/", u"", u"/"},
      {u"/", u"..", u"/"},
      {u"/a/b/", u"../../..", u"/"},
      // a relative base stays relative; what cannot be taken back is kept
      {u"a/", u"../b/", u"b/"},
      {u"a/b/", u"../../../c/", u"../c/"},
      {u"a/", u"..", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MergePath(c.Base, c.Path, u"/"), c.Out) << ToUtf8(c.Base) << " + " << ToUtf8(c.Path);
  }
}

TEST(MergePath, HonoursTheDelimiter) {
  EXPECT_EQ(MergePath(u"\\a\\b\\", u"..\\c\\", u"\\"), u"\\a\\c\\");
  EXPECT_EQ(MergePath(u"\\a\\", u"/x/", u"\\"), u"\\a\\/x/");  // "/" is a plain character here
  EXPECT_EQ(MergePath(u"a::b::", u"..::c::::d", u"::"), u"a::c::d");
  EXPECT_EQ(MergePath(u"/a", u"b"), u"/a/b");  // "/" by default
}

}  // namespace
}  // namespace vyn
