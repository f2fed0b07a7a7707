// MergePath: a relative path resolved against a base path.
//
// For one-character delimiters the result is compared with a model that works on
// segments: a path that starts with the delimiter is returned as it is; otherwise base
// and path are joined, empty segments dropped, "." kept, and each ".." takes back the
// segment before it unless there is none (at the root it is dropped, in a relative path
// kept) or that segment is a kept ".." itself; the result starts with the delimiter
// when the joined text does and ends with it when the path is empty or ends with it.
// Longer delimiters only have to survive.
#include "vynFuzz.h"
#include "vynIdGlobalProtocols.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

String Model(StringView ABase, StringView APath, char16_t ADelim) {
  if (!APath.empty() && APath[0] == ADelim) return String(APath);
  String work(ABase);
  if (!work.empty() && work.back() != ADelim) work += ADelim;
  work += APath;
  const bool absolute = !work.empty() && work[0] == ADelim;
  std::vector<String> segments;
  size_t start = 0;
  while (start <= work.size()) {
    size_t end = work.find(ADelim, start);
    if (end == String::npos) end = work.size();
    String segment = work.substr(start, end - start);
    if (segment == u"..") {
      if (!segments.empty() && segments.back() != u"..")
        segments.pop_back();
      else if (!absolute)
        segments.push_back(segment);
    } else if (!segment.empty()) {
      segments.push_back(segment);
    }
    start = end + 1;
  }
  String out = absolute ? String(1, ADelim) : String();
  for (size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) out += ADelim;
    out += segments[i];
  }
  // The path's own trailing delimiter survives, and so does the one a last ".." leaves
  // behind (the text then names a directory).
  const bool trailing = APath.empty() || APath.back() == ADelim;
  if (!segments.empty() && trailing) out += ADelim;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  static const StringView kDelimiters[] = {u"/", u"\\", u"::", u"ab"};
  const StringView delim = kDelimiters[in.Range(0, 3)];
  const String base = TextFromBytes8Bit(in.Until(0));
  const String path = TextFromBytes8Bit(in.Rest());
  const String merged = MergePath(base, path, delim);
  if (delim.size() != 1) return 0;
  const String expected = Model(base, path, delim[0]);
  FUZZ_CHECK(merged == expected, "base [" + Show(base) + "] path [" + Show(path) + "] delimiter [" + Show(delim) +
                                     "]: [" + Show(merged) + "], expected [" + Show(expected) + "]");
  return 0;
}
