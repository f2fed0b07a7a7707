#include "vynIdMultipartFormData.h"

#include <random>

#include "vynIdCharsets.h"

namespace vyn {

namespace {

// Names and file names go in double quotes; quotes and line breaks in them are
// percent-encoded so that they cannot end the header.
String QuotedName(const String& AName) {
  String out = u"\"";
  for (char16_t c : AName) {
    if (c == u'"')
      out += u"%22";
    else if (c == u'\r')
      out += u"%0D";
    else if (c == u'\n')
      out += u"%0A";
    else
      out += c;
  }
  return out + u"\"";
}

}  // namespace

TIdMultiPartFormDataStream::TIdMultiPartFormDataStream() {
  std::random_device random;
  FBoundary = u"--------" + IntToHex((uint64_t(random()) << 32) | random(), 16);
  const TIdBytes closing = BytesFromText(u"--" + FBoundary + u"--\r\n");
  WriteBuffer(closing.data(), static_cast<int64_t>(closing.size()));
  SetPosition(0);
}

String TIdMultiPartFormDataStream::RequestContentType() const {
  return u"multipart/form-data; boundary=" + FBoundary;
}

void TIdMultiPartFormDataStream::AddPart(const String& AHeaders, TStream* AData, const TIdBytes& AValue) {
  const TIdBytes closing = BytesFromText(u"--" + FBoundary + u"--\r\n");
  // The new part takes the place of the closing delimiter, which then follows it again.
  SetSize(Size() - static_cast<int64_t>(closing.size()));
  Seek(0, soEnd);
  const TIdBytes head = BytesFromText(u"--" + FBoundary + u"\r\n" + AHeaders + u"\r\n", EncodingUTF8());
  WriteBuffer(head.data(), static_cast<int64_t>(head.size()));
  if (AData) {
    AData->SetPosition(0);
    CopyFrom(*AData, 0);
  } else if (!AValue.empty()) {
    WriteBuffer(AValue.data(), static_cast<int64_t>(AValue.size()));
  }
  WriteBuffer("\r\n", 2);
  WriteBuffer(closing.data(), static_cast<int64_t>(closing.size()));
  SetPosition(0);
}

void TIdMultiPartFormDataStream::AddFormField(const String& AFieldName, const String& AFieldValue,
                                              const String& ACharset) {
  const String charset = ACharset.empty() ? String(u"utf-8") : ACharset;
  AddPart(u"Content-Disposition: form-data; name=" + QuotedName(AFieldName) +
              u"\r\nContent-Type: text/plain; charset=" + charset + u"\r\n",
          nullptr, BytesFromText(AFieldValue, EncodingForCharset(charset)));
}

void TIdMultiPartFormDataStream::AddFile(const String& AFieldName, const String& AFileName,
                                         const String& AContentType, TStream& AData) {
  AddPart(u"Content-Disposition: form-data; name=" + QuotedName(AFieldName) + u"; filename=" +
              QuotedName(AFileName) + u"\r\nContent-Type: " + AContentType + u"\r\n",
          &AData, {});
}

void TIdMultiPartFormDataStream::AddFile(const String& AFieldName, const String& APath,
                                         const String& AContentType) {
  TFileStream file(APath, fmOpenRead | fmShareDenyWrite);
  const size_t slash = APath.find_last_of(u'/');
  AddFile(AFieldName, slash == String::npos ? APath : APath.substr(slash + 1), AContentType, file);
}

}  // namespace vyn
