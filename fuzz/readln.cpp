// The I/O handler's line reader over the in-memory test transport: the peer's bytes
// arrive in segments and receive sizes the input chooses, and lines are read with a
// terminator, a length limit and a limit action the input chooses too.
//
// A model reads the same lines from the whole byte stream at once: the line ends at the
// first terminator (a CR before a lone LF terminator goes too); with a limit, a line
// whose terminator lies beyond it, or (at the end of the bytes) a rest that is too long
// to still end within it, is cut at the limit or raises "Max line length exceeded"
// without taking anything; a line that never ends times out on a silent peer (an empty
// line, ReadLnTimedout) and raises EIdConnClosedGracefully on a closed one.
//
// Properties: every call gives the model's line and flags, however the bytes were cut;
// what stays buffered is the start of what the model has not read yet; ReadLnSplit
// restores MaxLineAction.
#include "vynFuzzTransport.h"

using namespace vyn;
using namespace vyn::fuzz;
using vyn::test::TTestIOHandler;

namespace {

enum TOutcome { oLine, oSplit, oTooLong, oTimedOut, oClosed };

struct TExpected {
  TOutcome Outcome;
  TIdBytes Line;
  size_t Taken;  // bytes the call removes
};

TExpected Model(const TIdBytes& AData, size_t APos, const TIdBytes& ATerm, bool ALfTerminator, int AMax, bool ASplit,
                bool APeerClosed) {
  const auto rest = AData.begin() + static_cast<std::ptrdiff_t>(APos);
  const auto hit = std::search(rest, AData.end(), ATerm.begin(), ATerm.end());
  const size_t restSize = AData.size() - APos;
  const size_t termLen = ATerm.size();
  bool tooLong;
  if (hit != AData.end()) {
    tooLong = AMax > 0 && static_cast<size_t>(hit - rest) > static_cast<size_t>(AMax);
  } else {
    const size_t searched = restSize + 1 > termLen ? restSize + 1 - termLen : 0;
    tooLong = AMax > 0 && searched > static_cast<size_t>(AMax);
  }
  if (tooLong) {
    if (!ASplit) return {oTooLong, {}, 0};
    return {oSplit, TIdBytes(rest, rest + AMax), static_cast<size_t>(AMax)};
  }
  if (hit == AData.end()) return {APeerClosed ? oClosed : oTimedOut, {}, 0};
  TIdBytes line(rest, hit);
  if (ALfTerminator && !line.empty() && line.back() == 13) line.pop_back();
  return {oLine, line, static_cast<size_t>(hit - rest) + termLen};
}

const char* Name(TOutcome A) {
  switch (A) {
    case oLine:
      return "line";
    case oSplit:
      return "split";
    case oTooLong:
      return "too long";
    case oTimedOut:
      return "timed out";
    case oClosed:
      return "closed";
  }
  return "?";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize) {
  TFuzzInput in(AData, ASize);
  static const char16_t* const kTerminators[] = {u"\n", u"", u"\r\n", u"\r\n\r\n", u".", u"ab", u"aab"};
  const String terminator = kTerminators[in.Range(0, 6)];
  const int maxLen = in.Range(0, 40);
  const bool viaProperty = in.Bool();
  const bool split = in.Bool();
  const bool useReadLnSplit = in.Bool();
  const bool utf8 = in.Bool();
  const int calls = in.Range(1, 24);
  const TPeerCuts cuts = ReadPeerCuts(in);
  const bool peerClosed = cuts.Closes;
  const TIdBytes data = in.Rest();

  TTestIOHandler handler;
  const IIdTextEncoding enc = utf8 ? EncodingUTF8() : Encoding8Bit();
  handler.SetMaxLineAction(split ? maSplit : maException);
  if (viaProperty) handler.SetMaxLineLength(maxLen);
  StartPeer(handler, cuts, data);

  const TIdBytes term = BytesFromText(terminator.empty() ? String(u"\n") : terminator, enc);
  const bool lfTerminator = terminator.empty() || terminator == u"\n";
  // With the property set, -1 takes it; otherwise the call passes the limit (0: none)
  // and the property's default is not used.
  const int argument = viaProperty ? -1 : maxLen;
  const auto setup = [&] {
    return std::string("terminator [" + Show(terminator) + "] max " + std::to_string(maxLen) +
                       (split ? " split" : " exception") + (useReadLnSplit ? " via ReadLnSplit" : "") + ", " +
                       Show(cuts) + ", data " + Show(data));
  };
  size_t pos = 0;
  for (int call = 0; call < calls; ++call) {
    const bool splitting = split || useReadLnSplit;
    const TExpected expected = Model(data, pos, term, lfTerminator, maxLen, splitting, peerClosed);
    const auto context = [&, at = pos] {
      return std::string(setup() + "\ncall " + std::to_string(call) + " at " + std::to_string(at) + ", expected " +
                         Name(expected.Outcome) + " " + Show(expected.Line));
    };
    TOutcome got;
    String line;
    bool wasSplit = false;
    try {
      if (useReadLnSplit) {
        line = handler.ReadLnSplit(wasSplit, terminator, TimeoutUseDefault, argument, enc);
        FUZZ_CHECK(handler.MaxLineAction() == (split ? maSplit : maException), context() + ": action not restored");
        FUZZ_CHECK(wasSplit == handler.ReadLnSplit(), context());
      } else {
        line = handler.ReadLn(terminator, TimeoutUseDefault, argument, enc);
      }
      got = handler.ReadLnSplit() ? oSplit : handler.ReadLnTimedout() ? oTimedOut : oLine;
    } catch (const EIdReadLnMaxLineLengthExceeded&) {
      got = oTooLong;
    } catch (const EIdConnClosedGracefully&) {
      got = oClosed;
    }
    FUZZ_CHECK(got == expected.Outcome, context() + ": got " + Name(got) + " [" + Show(line) + "]");
    if (got == oLine || got == oSplit) {
      const String want = enc->GetString(expected.Line);
      FUZZ_CHECK(line == want, context() + ": got [" + Show(line) + "]");
    }
    if (got == oTimedOut) FUZZ_CHECK(line.empty(), context());
    pos += expected.Taken;
    // What is buffered is the start of what is still to be read.
    TIdBytes buffered;
    handler.InputBuffer()->ExtractToBytes(buffered, -1, true, 0);
    FUZZ_CHECK(buffered.size() <= data.size() - pos &&
                   std::equal(buffered.begin(), buffered.end(), data.begin() + static_cast<std::ptrdiff_t>(pos)),
               context() + ": buffered " + Show(buffered));
    if (got == oTooLong || got == oClosed) break;
  }
  return 0;
}
