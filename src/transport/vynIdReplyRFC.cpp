#include "vynIdReplyRFC.h"

#include "vynIdResourceStrings.h"

namespace vyn {

namespace {
bool IsDigits3(StringView AText) {
  if (AText.size() != 3) return false;
  for (char16_t c : AText)
    if (c < u'0' || c > u'9') return false;
  return true;
}
}  // namespace

void TIdReply::SetCode(const String& AValue) {
  if (!AValue.empty() && !CheckIfCodeIsValid(AValue))
    EIdException::Toss(FormatInvariant(RSReplyInvalidCode, {AValue}));
  FCode = AValue;
}

int TIdReply::NumericCode() const { return StrToIntDef(FCode, 0); }

void TIdReply::SetNumericCode(int AValue) { SetCode(AValue == 0 ? String() : IntToStr(AValue)); }

void TIdReply::Clear() {
  FCode.clear();
  FText.Clear();
}

void TIdReply::Assign(const TPersistent* ASource) {
  if (auto source = dynamic_cast<const TIdReply*>(ASource)) {
    FCode = source->FCode;
    FText.Assign(&source->FText);
    return;
  }
  TPersistent::Assign(ASource);
}

bool TIdReply::CheckIfCodeIsValid(const String& ACode) const {
  int64_t value;
  return TryStrToInt64(ACode, value);
}

bool TIdReplyRFC::CheckIfCodeIsValid(const String& ACode) const { return IsDigits3(ACode); }

bool TIdReplyRFC::IsEndMarker(const String& ALine) const {
  if (ALine.size() < 3 || !IsDigits3(StringView(ALine).substr(0, 3))) return false;
  return ALine.size() == 3 || ALine[3] != u'-';
}

void TIdReplyRFC::SetFormattedReply(const TStrings& AValue) {
  Clear();
  for (int i = 0; i < AValue.Count(); ++i) {
    const String line = AValue.Get(i);
    if (line.size() >= 3 && IsDigits3(StringView(line).substr(0, 3))) {
      if (FCode.empty()) SetCode(line.substr(0, 3));
      FText.Add(line.size() > 4 ? line.substr(4) : String());
    } else {
      FText.Add(line);
    }
  }
}

void TIdReplyRFC::RaiseReplyError() const {
  String text = FText.Text();
  while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n')) text.pop_back();
  throw EIdReplyRFCError(NumericCode(), text);
}

}  // namespace vyn
