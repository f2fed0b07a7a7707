// The header-value operations on one line: splitting the parameters after the main
// value, setting and removing one, quoting a value, and the media-type tests.
//
// Properties: nothing fails on any line; a parameter set on a line with a main value
// reads back as the trimmed value given; setting one parameter keeps every other
// parameter as it was (name, value and whether it was quoted), removing it keeps the
// rest too; a rebuilt line is a fixed point of splitting and rebuilding; a quoted value
// reads back unchanged.
//
// Quoting types RFC 822, MIME and HTTP are checked; the plain type (no special
// characters, so ";" does not end a value) only has to survive.
#include "vynFuzz.h"
#include "vynIdGlobalProtocols.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

std::string ShowParams(const std::vector<TIdHeaderParam>& AParams) {
  std::string out;
  for (const auto& p : AParams) out += " {" + Show(p.Name) + "=" + Show(p.Value) + (p.Quoted ? " q}" : "}");
  return out;
}

// An empty quoted value (a="") is written back as a=, which reads as no parameter: the
// quoting rule leaves an empty value empty. Such parameters are not compared.
std::vector<TIdHeaderParam> Comparable(std::vector<TIdHeaderParam> AParams) {
  std::erase_if(AParams, [](const TIdHeaderParam& p) { return p.Value.empty(); });
  return AParams;
}

bool SameParams(const std::vector<TIdHeaderParam>& A, const std::vector<TIdHeaderParam>& B) {
  if (A.size() != B.size()) return false;
  for (size_t i = 0; i < A.size(); ++i)
    if (A[i].Name != B[i].Name || A[i].Value != B[i].Value || A[i].Quoted != B[i].Quoted) return false;
  return true;
}

// A name that reads back as itself: not empty, no blanks or controls at its ends, no "=".
bool UsableName(StringView AName) {
  return !AName.empty() && Trim(AName) == AName && AName.find(u'=') == StringView::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  const auto quote = static_cast<TIdHeaderQuotingType>(in.Range(0, 3));
  const auto form = static_cast<TTextForm>(in.Range(0, 2));
  const String name = TextOf(in.Until(0), form);
  const String value = TextOf(in.Until(0), form);
  const String line = TextOf(in.Rest(), form);
  const auto context = [&] {
    return std::string("quoting " + std::to_string(quote) + ", line [" + Show(line) + "], name [" + Show(name) +
                       "], value [" + Show(value) + "]\n");
  };

  const auto params = SplitHeaderParams(line, quote);
  const String main = HeaderMainValue(line);
  (void)HasMediaType(line, name);
  (void)MediaSubType(line);
  const String set = WithHeaderParam(line, name, value, quote);
  String old;
  const String removed = WithoutHeaderParam(line, name, quote, old);
  const String quoted = QuoteParamValue(value, in.Bool(), quote);
  if (quote == QuotePlain) return 0;

  FUZZ_CHECK(Trim(main) == main, context());
  for (const auto& p : params) FUZZ_CHECK(!p.Name.empty() && (p.Quoted || !p.Value.empty()), context());

  // A quoted value reads back unchanged as a parameter.
  if (!value.empty()) {
    const String probe = u"x; p=" + QuoteParamValue(value, true, quote);
    const auto back = SplitHeaderParams(probe, quote);
    FUZZ_CHECK(back.size() == 1 && back[0].Value == value && back[0].Quoted,
               context() + "probe [" + Show(probe) + "] gives" + ShowParams(back));
  }

  if (main.empty() || !UsableName(name)) return 0;
  // What setting and removing must keep: every parameter but the first of that name.
  std::vector<TIdHeaderParam> others = params;
  auto first = std::find_if(others.begin(), others.end(),
                            [&](const TIdHeaderParam& p) { return TextEqualsIgnoreCase(p.Name, name); });
  const bool had = first != others.end();
  const size_t at = had ? static_cast<size_t>(first - others.begin()) : others.size();
  if (had) others.erase(first);

  const String trimmed = Trim(value);
  if (!trimmed.empty()) {
    FUZZ_CHECK(HeaderParamValue(set, name, quote) == trimmed, context() + "set gives [" + Show(set) + "]");
    auto expected = others;
    // Quoted when it was before or when its characters need it.
    const bool needsQuotes = QuoteParamValue(trimmed, false, quote).front() == u'"';
    expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(at),
                    TIdHeaderParam{had ? params[at].Name : name, trimmed, (had && params[at].Quoted) || needsQuotes});
    const auto got = SplitHeaderParams(set, quote);
    FUZZ_CHECK(SameParams(Comparable(got), Comparable(expected)),
               context() + "set gives [" + Show(set) + "]:" + ShowParams(got) + "\nexpected" + ShowParams(expected));
    // Rebuilding changes nothing more once the empty quoted values are gone.
    const String again = WithHeaderParam(set, name, value, quote);
    FUZZ_CHECK(WithHeaderParam(again, name, value, quote) == again,
               context() + "set gives [" + Show(set) + "], then [" + Show(again) + "]");
  }
  if (had) {
    FUZZ_CHECK(old == params[at].Value, context());
    const auto got = SplitHeaderParams(removed, quote);
    FUZZ_CHECK(
        SameParams(Comparable(got), Comparable(others)),
        context() + "removal gives [" + Show(removed) + "]:" + ShowParams(got) + "\nexpected" + ShowParams(others));
    FUZZ_CHECK(HeaderMainValue(removed) == main, context() + "removal gives [" + Show(removed) + "]");
  } else {
    FUZZ_CHECK(removed == line && old.empty(), context());
  }
  return 0;
}
