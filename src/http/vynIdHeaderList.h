// The raw form of a header block: ordered "Name: value" lines.
#pragma once

#include <climits>
#include <vector>

#include "vynClasses.h"
#include "vynIdGlobalProtocols.h"

namespace vyn {

// An ordered list of header lines (no sorting, duplicates kept). Names compare ignoring
// case. A line whose first character is a space or a tab continues the header above
// it: reading a value joins such lines (UnfoldLines), writing a value wraps it into
// them (FoldLines). Parameters inside values are read and written with the list's
// quoting type, fixed at creation.
class TIdHeaderList : public TStringList {
public:
  explicit TIdHeaderList(TIdHeaderQuotingType AQuoteType);

  // ": " by default. Reading splits at the separator without its trailing blanks.
  const String& NameValueSeparator() const { return FNameValueSeparator; }
  void SetNameValueSeparator(const String& AValue) { FNameValueSeparator = AValue; }
  bool UnfoldLines() const { return FUnfoldLines; }
  void SetUnfoldLines(bool AValue) { FUnfoldLines = AValue; }
  bool FoldLines() const { return FFoldLines; }
  void SetFoldLines(bool AValue) { FFoldLines = AValue; }
  // The wrap column: INT32_MAX for HTTP lists, so HTTP values are never wrapped.
  int32_t FoldLength() const { return FFoldLinesLength; }
  void SetFoldLength(int32_t AValue) { FFoldLinesLength = AValue; }
  TIdHeaderQuotingType QuoteType() const { return FQuoteType; }

  // Whether ALine continues the header above it.
  static bool IsContinuationLine(StringView ALine) {
    return !ALine.empty() && (ALine[0] == u' ' || ALine[0] == u'\t');
  }

  // The text of line AIndex before the separator, not trimmed; empty without one.
  String GetName(int AIndex) const;
  // The first line, continuation lines included, whose name equals AName ignoring case.
  int IndexOfName(const String& AName) const override;
  // The value of the header at AIndex (continuations joined when UnfoldLines, trimmed);
  // AIndex moves past the lines read.
  String GetValueFromLine(int& AIndex) const;
  // The value of the first header named AName; empty when there is none.
  String GetValue(const String& AName) const;
  // Replaces the first header named AName (its continuation lines too, when FoldLines)
  // or appends one; an empty value deletes that header.
  void SetValue(const String& AName, const String& AValue);
  String Values(const String& AName) const override { return GetValue(AName); }
  void SetValues(const String& AName, const String& AValue) override { SetValue(AName, AValue); }

  // Appends a header even when the name exists; nothing when name or value is empty.
  void AddValue(const String& AName, const String& AValue);
  // AddValue for each line of a plain name=value list.
  void AddStdValues(const TStrings& ASrc);
  // Another header list's lines are appended unchanged; any other list's name=value
  // lines are converted.
  void AddStrings(const TStrings& AStrings) override;
  // Replaces the lines (converting a plain list like AddStrings).
  void Assign(const TPersistent* ASource) override;
  // Appends one line per header (continuations joined) to ADest in its own name=value
  // form. Lines without a name are left out.
  void ConvertToStdValues(TStrings& ADest) const;
  // Appends to ADest the value of every header named AName, in order.
  void Extract(const String& AName, TStrings& ADest) const;

  // Parameters of a header's value. The list's quoting type applies, except that an
  // RFC 822 list reads Content-Type and Content-Disposition the MIME way and a MIME list
  // reads every other header the RFC 822 way.
  String GetParam(const String& AName, const String& AParam) const;
  // Sets, adds or (empty value) removes a parameter; an absent header stays absent.
  void SetParam(const String& AName, const String& AParam, const String& AValue);
  // The value after its first ";", trimmed.
  String GetAllParams(const String& AName) const;
  // When the header exists: its main value, then "; " + AValue when AValue is not empty.
  void SetAllParams(const String& AName, const String& AValue);

private:
  String NameSeparator() const;
  TIdHeaderQuotingType ParamQuoteType(const String& AName) const;
  void DeleteFoldedLines(int AIndex);
  // The header line AText as the lines it is stored in (wrapped when FoldLines).
  std::vector<String> FoldedLines(const String& AText) const;

  String FNameValueSeparator = u": ";
  bool FUnfoldLines = true;
  bool FFoldLines = true;
  int32_t FFoldLinesLength;
  TIdHeaderQuotingType FQuoteType;
};

}  // namespace vyn
