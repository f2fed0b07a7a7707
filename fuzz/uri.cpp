// TIdURI: splitting a URL, building it back, and the percent encoders and decoder.
//
// Properties: parsing never fails; the path of an absolute URL starts and ends with
// "/", a relative one is empty or ends with "/"; GetPathAndParams is path, document
// and query; an absolute URL built back and parsed again gives the same fields (the
// port aside where it is the scheme's default, which is not written) and the same
// text; building without protocol or host raises EIdURIException and nothing else;
// the encoders write only printable ASCII, encoding twice changes nothing, and
// decoding an encoded text without "%" and without lone surrogates gives it back.
#include "vynFuzz.h"
#include "vynIdURI.h"

using namespace vyn;
using namespace vyn::fuzz;

namespace {

std::string ShowFields(const TIdURI& A) {
  return "protocol [" + Show(A.Protocol()) + "] user [" + Show(A.Username()) + "] password [" + Show(A.Password()) +
         "] host [" + Show(A.Host()) + "] port [" + Show(A.Port()) + "] path [" + Show(A.Path()) + "] document [" +
         Show(A.Document()) + "] params [" + Show(A.Params()) + "] bookmark [" + Show(A.Bookmark()) + "] v" +
         (A.IPVersion() == Id_IPv6 ? "6" : "4");
}

bool DefaultPort(const TIdURI& A) {
  return (TextEqualsIgnoreCase(A.Protocol(), u"http") && A.Port() == u"80") ||
         (TextEqualsIgnoreCase(A.Protocol(), u"https") && A.Port() == u"443") ||
         (TextEqualsIgnoreCase(A.Protocol(), u"ftp") && A.Port() == u"21");
}

bool SameFields(const TIdURI& A, const TIdURI& B) {
  return A.Protocol() == B.Protocol() && A.Host() == B.Host() && A.Path() == B.Path() && A.Document() == B.Document() &&
         A.Params() == B.Params() && A.Bookmark() == B.Bookmark() && A.Username() == B.Username() &&
         (A.Username().empty() || A.Password() == B.Password()) && A.IPVersion() == B.IPVersion() &&
         (A.Port() == B.Port() || (DefaultPort(A) && B.Port().empty()));
}

void CheckEncoded(const String& AText, const String& AEncoded, bool APath, const IIdTextEncoding& AEnc,
                  const std::string& AContext) {
  const auto context = [&] {
    return std::string(AContext + (APath ? " path" : " params") + " encoding [" + Show(AEncoded) + "]");
  };
  for (char16_t c : AEncoded) FUZZ_CHECK(c > 0x20 && c < 0x7F, context());
  const String twice = APath ? TIdURI::PathEncode(AEncoded, AEnc) : TIdURI::ParamsEncode(AEncoded, AEnc);
  FUZZ_CHECK(twice == AEncoded, context() + " encodes again as [" + Show(twice) + "]");
  if (AText.find(u'%') != String::npos || LoneSurrogateAt(AText) >= 0) return;
  if (AEnc && std::any_of(AText.begin(), AText.end(), [](char16_t c) { return c > 0xFF; })) return;
  const String back = TIdURI::URLDecode(AEncoded, AEnc);
  FUZZ_CHECK(back == AText, context() + " decodes as [" + Show(back) + "]");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  const auto form = static_cast<TTextForm>(in.Range(0, 2));
  const bool utf8 = in.Bool();
  // None means UTF-8 as well; the 8-bit encoding can only carry code units below 256.
  const IIdTextEncoding enc = utf8 ? IIdTextEncoding() : Encoding8Bit();
  const String text = TextOf(in.Rest(), form);
  const auto context = [&] { return std::string("text [" + Show(text) + "]"); };

  TIdURI uri(text);
  const auto parsed = [&] { return std::string(context() + "\n  " + ShowFields(uri)); };
  if (!uri.Path().empty()) FUZZ_CHECK(uri.Path().back() == u'/', parsed());
  if (!uri.Host().empty()) FUZZ_CHECK(uri.Path().starts_with(u'/'), parsed());
  FUZZ_CHECK(uri.Document().find(u'/') == String::npos, parsed());
  String target = uri.Path() + uri.Document();
  if (!uri.Params().empty()) target += u'?' + uri.Params();
  FUZZ_CHECK(uri.GetPathAndParams() == target, parsed());

  // Built back and parsed again.
  String full;
  try {
    full = uri.GetFullURI({ofAuthInfo, ofBookmark});
    FUZZ_CHECK(!uri.Protocol().empty() && !uri.Host().empty(), parsed());
  } catch (const EIdURIException&) {
    FUZZ_CHECK(uri.Protocol().empty() || uri.Host().empty(), parsed());
  }
  if (!full.empty()) {
    TIdURI again(full);
    FUZZ_CHECK(SameFields(uri, again), parsed() + "\nbuilt [" + Show(full) + "]\n  " + ShowFields(again));
    FUZZ_CHECK(again.GetFullURI({ofAuthInfo, ofBookmark}) == full, parsed() + "\nbuilt [" + Show(full) + "]");
    // Reading URI drops the user information and the bookmark.
    TIdURI plain(full);
    const String shown = plain.URI();
    FUZZ_CHECK(shown == plain.GetFullURI({}), parsed());
  }

  // The encoders and the decoder on the whole text.
  CheckEncoded(text, TIdURI::PathEncode(text, enc), true, enc, context());
  CheckEncoded(text, TIdURI::ParamsEncode(text, enc), false, enc, context());
  (void)TIdURI::URLDecode(text, enc);
  try {
    (void)TIdURI::URLEncode(text, enc);
  } catch (const EIdURIException&) {
  }
  return 0;
}
