#include "vynIdGlobalProtocols.h"

namespace vyn {

String MergePath(StringView ABasePath, StringView APath, StringView ADelimiter) {
  if (ADelimiter.empty()) return String(ABasePath) + String(APath);
  if (APath.starts_with(ADelimiter)) return String(APath);
  const bool keepTrailing = APath.empty() || APath.ends_with(ADelimiter);

  String work(ABasePath);
  if (!work.empty() && !work.ends_with(ADelimiter)) work += ADelimiter;
  work += APath;

  const size_t d = ADelimiter.size();
  String out;
  out.reserve(work.size());
  size_t i = 0;
  while (i < work.size()) {
    const StringView rest = StringView(work).substr(i);
    if (rest.starts_with(ADelimiter)) {
      // Only a leading delimiter makes the result absolute: a relative path whose
      // segments were all taken back by ".." stays relative.
      if (i == 0 || (!out.empty() && !out.ends_with(ADelimiter))) out += ADelimiter;
      i += d;
      continue;
    }
    // Only a whole ".." segment goes up: "..foo" and "..." are names like any other.
    // At the root it stays there; with nothing left to take back it is kept.
    if (rest.starts_with(u"..") && !out.empty() && out.ends_with(ADelimiter) &&
        (rest.size() == 2 || rest.substr(2).starts_with(ADelimiter))) {
      if (out != ADelimiter) {
        out.erase(out.size() - d);
        while (!out.empty() && !out.ends_with(ADelimiter)) out.pop_back();
      }
      i += 2;
      continue;
    }
    out += work[i];
    ++i;
  }
  if (out != ADelimiter && out.ends_with(ADelimiter) && !keepTrailing) out.erase(out.size() - d);
  return out;
}

}  // namespace vyn
