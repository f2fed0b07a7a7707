// Text helpers shared by the protocol code.
#pragma once

#include "vynIdGlobal.h"

namespace vyn {

// Resolves APath against ABasePath, both made of segments separated by ADelimiter.
// An APath that starts with the delimiter is returned unchanged. Otherwise the two are
// joined, runs of delimiters collapse to one and every ".." segment removes the
// segment before it, never the root ("." segments stay). The result ends with the
// delimiter when APath is empty or ends with it (or when it is only the delimiter).
String MergePath(StringView ABasePath, StringView APath, StringView ADelimiter = u"/");

}  // namespace vyn
