// Replies of line-based protocols: a numeric code and text lines. The RFC form is
// "NNN text" for the last line of a reply and "NNN-text" for the lines before it.
#pragma once

#include "vynClasses.h"
#include "vynIdGlobal.h"

namespace vyn {

class TIdReply : public TPersistent {
public:
  TIdReply() = default;
  TIdReply(const TIdReply&) = delete;
  TIdReply& operator=(const TIdReply&) = delete;

  // An empty code or one the reply class accepts; anything else raises EIdException
  // "Reply Code is not valid: %s".
  const String& Code() const { return FCode; }
  void SetCode(const String& AValue);
  // The code as a number; 0 when there is none.
  int NumericCode() const;
  void SetNumericCode(int AValue);
  TStrings& Text() { return FText; }
  const TStrings& Text() const { return FText; }

  virtual void Clear();
  void Assign(const TPersistent* ASource) override;
  // Whether ALine is the last line of a reply.
  virtual bool IsEndMarker(const String& ALine) const = 0;
  // Takes the lines of one whole reply as received.
  virtual void SetFormattedReply(const TStrings& AValue) = 0;
  // Raises the error this reply stands for.
  [[noreturn]] virtual void RaiseReplyError() const = 0;

protected:
  virtual bool CheckIfCodeIsValid(const String& ACode) const;

  String FCode;
  TStringList FText;
};

class TIdReplyRFC : public TIdReply {
public:
  bool IsEndMarker(const String& ALine) const override;
  void SetFormattedReply(const TStrings& AValue) override;
  // EIdReplyRFCError with NumericCode and the text lines.
  [[noreturn]] void RaiseReplyError() const override;

protected:
  // Three decimal digits.
  bool CheckIfCodeIsValid(const String& ACode) const override;
};

}  // namespace vyn
