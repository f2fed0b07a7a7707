// A multipart/form-data body, built field by field. The stream always holds a
// complete body (the closing delimiter follows the last part), ready to be posted;
// the engine's multipart POST takes its content type from RequestContentType.
#pragma once

#include "vynIdGlobal.h"
#include "vynStreams.h"

namespace vyn {

class TIdMultiPartFormDataStream : public TMemoryStream {
public:
  // With a random boundary.
  TIdMultiPartFormDataStream();

  const String& Boundary() const { return FBoundary; }
  // "multipart/form-data; boundary=" and the boundary.
  String RequestContentType() const;

  // A text field, its value as the bytes of ACharset (UTF-8 when none is named).
  void AddFormField(const String& AFieldName, const String& AFieldValue, const String& ACharset = u"utf-8");
  // A file field with all of AData from its start.
  void AddFile(const String& AFieldName, const String& AFileName, const String& AContentType, TStream& AData);
  // A file field read from the file at APath, named by its last path segment.
  void AddFile(const String& AFieldName, const String& APath,
               const String& AContentType = u"application/octet-stream");

private:
  void AddPart(const String& AHeaders, TStream* AData, const TIdBytes& AValue);
  String FBoundary;
};

}  // namespace vyn
