// A URL split into its parts and built back from them, with the percent encoders
// and the decoder for paths and query strings.
//
// The splitter works left to right on fixed separators. It does not validate, does
// not change the case of scheme or host and keeps every part as text, the port
// included; a text it cannot make sense of leaves fields empty or odd, never fails.
#pragma once

#include "vynIdException.h"
#include "vynIdGlobal.h"
#include "vynSet.h"

namespace vyn {

enum TIdURIOptionalFields { ofAuthInfo, ofBookmark };
using TIdURIOptionalFieldsSet = TSet<TIdURIOptionalFields>;

// Raised when a URI text is built without protocol or host.
VYN_EXCEPTION_CLASS(EIdURIException, EIdException);

class TIdURI : public TObject {
public:
  // An empty URI; a non-empty AURI is parsed as by SetURI.
  explicit TIdURI(const String& AURI = String());

  // Reading builds the text without user information and bookmark (and keeps the
  // whole text, with both, as the stored one); raises EIdURIException when protocol
  // or host is empty.
  String URI();
  // Replaces every field with the parts of AValue (after NormalizePath).
  void SetURI(const String& AValue);

  // The text of the URI; ofAuthInfo adds user name and password, ofBookmark the
  // bookmark. Raises EIdURIException "Protocol field is empty" / "Host field is empty".
  String GetFullURI(TIdURIOptionalFieldsSet AOptionalFields = {ofAuthInfo, ofBookmark}) const;
  // Path + Document, then "?" + Params when there are any: the request target.
  String GetPathAndParams() const;

  const String& Protocol() const { return FProtocol; }
  void SetProtocol(const String& AValue) { FProtocol = AValue; }
  const String& Host() const { return FHost; }
  void SetHost(const String& AValue) { FHost = AValue; }
  // As written; empty when the URL names none.
  const String& Port() const { return FPort; }
  void SetPort(const String& AValue) { FPort = AValue; }
  // The directory part: "/"-terminated, starting with "/" for an absolute URL.
  const String& Path() const { return Fpath; }
  void SetPath(const String& AValue) { Fpath = AValue; }
  // The last path segment, without query and bookmark.
  const String& Document() const { return FDocument; }
  void SetDocument(const String& AValue) { FDocument = AValue; }
  // The query, without "?" and without the bookmark.
  const String& Params() const { return FParams; }
  void SetParams(const String& AValue) { FParams = AValue; }
  const String& Bookmark() const { return FBookmark; }
  void SetBookmark(const String& AValue) { FBookmark = AValue; }
  const String& Username() const { return FUserName; }
  void SetUsername(const String& AValue) { FUserName = AValue; }
  const String& Password() const { return FPassword; }
  void SetPassword(const String& AValue) { FPassword = AValue; }
  // Id_IPv6 when the host was written in brackets.
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }

  // Turns "\" into "/" in the part after the scheme and before any query or bookmark.
  static void NormalizePath(String& APath);
  // Decodes "%XX" bytes and "%uXXXX" UTF-16 code units; the bytes are read with
  // AByteEncoding (UTF-8 when none). A malformed escape is kept as written; "+" stays.
  static String URLDecode(StringView ASrc, const IIdTextEncoding& AByteEncoding = nullptr);
  // Parses ASrc and encodes its path, document and query; user information and
  // bookmark are dropped. Raises EIdURIException when ASrc lacks protocol or host.
  static String URLEncode(const String& ASrc, const IIdTextEncoding& AByteEncoding = nullptr);
  // Percent-encode everything that may not appear raw in a query / a path, as the
  // bytes of AByteEncoding (UTF-8 when none). An existing "%XX" escape is kept, so
  // encoding twice changes nothing. The two differ only in "+": kept in a query.
  static String ParamsEncode(StringView ASrc, const IIdTextEncoding& AByteEncoding = nullptr);
  static String PathEncode(StringView ASrc, const IIdTextEncoding& AByteEncoding = nullptr);

private:
  String FDocument;
  String FProtocol;
  String FURI;
  String FPort;
  String Fpath;
  String FHost;
  String FBookmark;
  String FUserName;
  String FPassword;
  String FParams;
  TIdIPVersion FIPVersion = Id_IPv4;
};

}  // namespace vyn
