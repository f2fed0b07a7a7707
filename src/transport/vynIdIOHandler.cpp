#include "vynIdIOHandler.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <mutex>
#include <vector>

#include "vynIdResourceStrings.h"
#include "vynIdStack.h"

namespace vyn {

namespace {

// The process-wide registry of handler classes, last registered searched first.
struct TIOHandlerRegistry {
  std::mutex Lock;
  std::vector<TIdIOHandlerClass> Classes;
  TIdIOHandlerClass Default;
};

TIOHandlerRegistry& Registry() {
  static TIOHandlerRegistry registry;
  return registry;
}

constexpr int kTimeoutCode = 10060;
// The most ReadStream sizes a stream ahead of the bytes that arrive.
constexpr int64_t kMaxStreamReserve = 1 << 20;

}  // namespace

// ---- Registry -----------------------------------------------------------------------------

void TIdIOHandler::RegisterIOHandler(const TIdIOHandlerClass& AClass) {
  if (!AClass.Assigned()) return;
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  if (std::find(r.Classes.begin(), r.Classes.end(), AClass) == r.Classes.end()) r.Classes.push_back(AClass);
}

void TIdIOHandler::SetDefaultClass(const TIdIOHandlerClass& AClass) {
  RegisterIOHandler(AClass);
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Default = AClass;
}

TIdIOHandlerClass TIdIOHandler::DefaultClass() {
  auto& r = Registry();
  std::lock_guard<std::mutex> guard(r.Lock);
  return r.Default;
}

std::unique_ptr<TIdIOHandler> TIdIOHandler::MakeDefaultIOHandler() { return DefaultClass().Create(); }

std::unique_ptr<TIdIOHandler> TIdIOHandler::TryMakeIOHandler(const TIdIOHandlerClass& ABaseType) {
  std::vector<TIdIOHandlerClass> classes;
  {
    auto& r = Registry();
    std::lock_guard<std::mutex> guard(r.Lock);
    classes = r.Classes;
  }
  for (auto it = classes.rbegin(); it != classes.rend(); ++it)
    if (it->CanCreate() && it->InheritsFrom(ABaseType)) return it->Create();
  return nullptr;
}

std::unique_ptr<TIdIOHandler> TIdIOHandler::MakeIOHandler(const TIdIOHandlerClass& ABaseType) {
  auto handler = TryMakeIOHandler(ABaseType);
  if (!handler) EIdException::Toss(FormatInvariant(RSIOHandlerTypeNotInstalled, {ABaseType.Name()}));
  return handler;
}

// ---- Construction --------------------------------------------------------------------------

TIdIOHandler::TIdIOHandler(TComponent* AOwner) : TIdComponent(AOwner) {
  // Every byte a reader takes out of the input buffer counts as read work.
  FInputBuffer = std::make_unique<TIdBuffer>([this](TIdBuffer*, int ABytes) { DoWork(wmRead, ABytes); });
  FDefStringEncoding = EncodingDefault();
}

TIdIOHandler::~TIdIOHandler() {
  try {
    TIdIOHandler::Close();
  } catch (...) {
    // An intercept that fails while the handler goes away cannot be reported.
  }
  SetIntercept(nullptr);
}

void TIdIOHandler::SetDefStringEncoding(const IIdTextEncoding& AValue) {
  FDefStringEncoding = AValue ? AValue : EncodingDefault();
}

void TIdIOHandler::SetIntercept(TIdConnectionIntercept* AValue) {
  if (AValue == FIntercept) return;
  if (FIntercept) RemoveFreeNotification(FIntercept);
  FIntercept = AValue;
  if (FIntercept) FreeNotification(FIntercept);
}

void TIdIOHandler::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent == FIntercept) FIntercept = nullptr;
  TIdComponent::Notification(AComponent, AOperation);
}

const IIdTextEncoding& TIdIOHandler::TextEncoding(const IIdTextEncoding& AByteEncoding) const {
  return ResolveEncoding(AByteEncoding, FDefStringEncoding, encASCII);
}

int TIdIOHandler::EffectiveTimeout(int ATimeout) const {
  if (ATimeout == TimeoutUseDefault) {
    if (FReadTimeOut == -1 || FReadTimeOut == 0) return TimeoutInfinite;
    ATimeout = FReadTimeOut;
  }
  return ATimeout < 0 ? TimeoutInfinite : ATimeout;
}

// ---- State -----------------------------------------------------------------------------------

bool TIdIOHandler::Readable(int) { return false; }

bool TIdIOHandler::Connected() {
  CheckForDisconnect(false, false);
  return FOpened && ((!FClosedGracefully && FInputBuffer) || !InputBufferIsEmpty());
}

void TIdIOHandler::Open() {
  FOpened = false;
  FClosedGracefully = false;
  WriteBufferClear();
  FInputBuffer->Clear();
  FOpened = true;
}

void TIdIOHandler::Close() {
  TScopeExit done([this] {
    FOpened = false;
    WriteBufferClear();
  });
  if (FIntercept) FIntercept->Disconnect();
}

void TIdIOHandler::RaiseClosedGracefully() { EIdConnClosedGracefully::Toss(RSConnectionClosedGracefully); }

// ---- Receiving ---------------------------------------------------------------------------------

int TIdIOHandler::FillInputBuffer(bool ARaiseExceptionIfDisconnected, int ATimeout, bool ARaiseExceptionOnTimeout) {
  ATimeout = EffectiveTimeout(ATimeout);
  CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
  if (!SourceIsAvailable()) {
    if (ARaiseExceptionIfDisconnected) EIdNotConnected::Toss(RSNotConnected);
    return 0;
  }
  int count = 0;
  for (;;) {
    if (!Readable(ATimeout)) {
      if (ARaiseExceptionOnTimeout) EIdReadTimeout::Toss(RSReadTimeout);
      return -1;
    }
    count = 0;
    bool delivered = false;  // the transport gave bytes, even if the intercept kept them all
    if (FOpened) {
      if (SourceIsAvailable()) {
        const int size = std::max(FRecvBufferSize, 1);
        if (FIntercept) {
          // The intercept may change the block: it gets an array of its own.
          TIdBytes block(static_cast<size_t>(size));
          count = ReadDataFromSource(block);
          if (count > 0) {
            delivered = true;
            block.resize(static_cast<size_t>(std::min(count, size)));
            FIntercept->Receive(block);
            count = static_cast<int>(block.size());
            if (count > 0) FInputBuffer->Write(block);
          }
        } else {
          // Straight into the tail of the input buffer: no copy of the receive.
          count = ReadDataFromSource(TIdBytesSpan(FInputBuffer->PrepareAppend(size), static_cast<size_t>(size)));
          if (count > 0) {
            delivered = true;
            count = std::min(count, size);
            FInputBuffer->CommitAppend(count);
          }
        }
      } else if (ARaiseExceptionIfDisconnected) {
        EIdClosedSocket::Toss(RSClosedSocket);
      }
    } else if (ARaiseExceptionIfDisconnected) {
      EIdNotConnected::Toss(RSNotConnected);
    }
    if (count < 0) {
      const int code = TranslateIOError(count);
      if (code == kTimeoutCode) {
        if (ARaiseExceptionOnTimeout) EIdReadTimeout::Toss(RSReadTimeout);
        return -1;
      }
      FClosedGracefully = true;
      Close();
      if (InputBufferIsEmpty() && ARaiseExceptionIfDisconnected) RaiseIOError(code);
      count = 0;
    } else if (count == 0 && !delivered) {
      FClosedGracefully = true;
    }
    CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
    // A block the intercept swallowed whole is not the peer's close: receive again.
    if (count != 0 || !delivered || !SourceIsAvailable() || !FOpened) break;
  }
  return count;
}

void TIdIOHandler::WaitForInputBytes(int N) {
  while (FInputBuffer->Size() < N) {
    const int got = FillInputBuffer(false, TimeoutUseDefault, true);
    if (FInputBuffer->Size() >= N) break;
    CheckForDisconnect(true, true);
    // A transport that neither delivers nor reports its close would spin here.
    if (got <= 0) RaiseClosedGracefully();
  }
}

String TIdIOHandler::InputBufferAsString(const IIdTextEncoding& AByteEncoding) {
  return FInputBuffer->ExtractToString(-1, TextEncoding(AByteEncoding));
}

void TIdIOHandler::InputBufferToStream(TStream& AStream, int AByteCount) {
  if (FInputBuffer->Size() == 0) return;
  FInputBuffer->ExtractToStream(AStream, AByteCount);
}

bool TIdIOHandler::CheckForDataOnSource(int ATimeout) {
  const int before = FInputBuffer->Size();
  if (!Connected()) return false;
  if (FInputBuffer->Size() > before) return true;
  return FillInputBuffer(false, ATimeout, false) > 0;
}

String TIdIOHandler::ReadLn(const IIdTextEncoding& AByteEncoding) {
  return ReadLn(u"\n", TimeoutUseDefault, -1, AByteEncoding);
}

String TIdIOHandler::ReadLn(const String& ATerminator, const IIdTextEncoding& AByteEncoding) {
  return ReadLn(ATerminator, TimeoutUseDefault, -1, AByteEncoding);
}

String TIdIOHandler::ReadLn(const String& ATerminator, int ATimeout, int AMaxLineLength,
                            const IIdTextEncoding& AByteEncoding) {
  const IIdTextEncoding& encoding = TextEncoding(AByteEncoding);
  if (AMaxLineLength < 0) AMaxLineLength = FMaxLineLength;
  const bool lineFeed = ATerminator.empty() || ATerminator == u"\n";
  // The terminator's bytes. The usual line feed in a single-byte form is looked for
  // as that byte, without making an array for it on every line.
  uint8_t termByte = 0;
  TIdBytes term;
  int termLen = 1;
  if (!lineFeed || encoding->GetByteCount(u"\n", 1) != 1 || encoding->GetBytes(u"\n", 1, &termByte, 1) != 1) {
    term = BytesFromText(lineFeed ? String(u"\n") : ATerminator, encoding);
    termLen = static_cast<int>(term.size());
  }
  FReadLnSplit = false;
  FReadLnTimedOut = false;
  // Only an explicit time-out needs the clock.
  const uint64_t start = ATimeout >= 0 ? TickCount64() : 0;
  int searchStart = 0;
  int pos = -1;
  bool deadlinePassed = false;
  for (;;) {
    const int size = FInputBuffer->Size();
    if (size > 0) {
      if (searchStart >= size || termLen == 0) pos = -1;
      else if (term.empty()) pos = FInputBuffer->IndexOf(termByte, searchStart);
      else pos = FInputBuffer->IndexOf(term, searchStart);
      // Bytes already examined are not searched again.
      searchStart = std::max(size - termLen + 1, 0);
    }
    if (AMaxLineLength > 0 &&
        ((pos >= 0 && pos > AMaxLineLength) || (pos < 0 && searchStart > AMaxLineLength))) {
      if (FMaxLineAction == maException) EIdReadLnMaxLineLengthExceeded::Toss(RSReadLnMaxLineLengthExceeded);
      FReadLnSplit = true;
      return FInputBuffer->ExtractToString(AMaxLineLength, encoding);
    }
    if (pos >= 0) break;
    if (deadlinePassed) {
      FReadLnTimedOut = true;
      return String();
    }
    CheckForDisconnect(true, true);
    // An explicit time-out is a deadline for the whole line: each receive waits only
    // for what is left of it. TimeoutUseDefault waits ReadTimeout per receive.
    int wait = ATimeout;
    if (ATimeout >= 0) {
      const uint64_t elapsed = TicksSince(start);
      wait = elapsed >= static_cast<uint64_t>(ATimeout) ? 0 : ATimeout - static_cast<int>(elapsed);
    }
    if (FillInputBuffer(true, wait, false) == -1) {
      FReadLnTimedOut = true;
      return String();
    }
    // Data that arrived just as the time ran out is still searched once.
    if (ATimeout >= 0 && TicksSince(start) >= static_cast<uint64_t>(ATimeout)) deadlinePassed = true;
  }
  // Decoded where it lies, then removed with its terminator.
  const TIdBytesView unread = FInputBuffer->Peek();
  int lineLen = pos;
  if (lineFeed && pos > 0 && unread[pos - 1] == 13) --lineLen;
  String line = lineLen > 0 ? encoding->GetString(unread.data(), static_cast<size_t>(lineLen)) : String();
  FInputBuffer->Remove(pos + termLen);
  return line;
}

String TIdIOHandler::ReadLnSplit(bool& AWasSplit, const String& ATerminator, int ATimeout, int AMaxLineLength,
                                 const IIdTextEncoding& AByteEncoding) {
  const TIdMaxLineAction old = FMaxLineAction;
  TScopeExit restore([&] { FMaxLineAction = old; });
  FMaxLineAction = maSplit;
  String line = ReadLn(ATerminator, ATimeout, AMaxLineLength, AByteEncoding);
  AWasSplit = FReadLnSplit;
  return line;
}

String TIdIOHandler::ReadLnRFC(bool& VMsgEnd, const String& ALineTerminator, const String& ADelim,
                               const IIdTextEncoding& AByteEncoding) {
  String line = ReadLn(ALineTerminator, AByteEncoding);
  if (line == ADelim) {
    VMsgEnd = true;
    return line;
  }
  if (TextHasPrefix(line, u"..")) line.erase(0, 1);
  VMsgEnd = false;
  return line;
}

String TIdIOHandler::ReadLnWait(int AFailCount, const IIdTextEncoding& AByteEncoding) {
  int attempts = 0;
  for (;;) {
    String line = Trim(ReadLn(AByteEncoding));
    if (!line.empty()) return line;
    if (FReadLnTimedOut) EIdReadTimeout::Toss(RSReadTimeout);
    if (++attempts >= AFailCount) EIdReadLnWaitMaxAttemptsExceeded::Toss(RSReadLnWaitMaxAttemptsExceeded);
  }
}

void TIdIOHandler::ReadBytes(TIdBytes& VBuffer, int AByteCount, bool AAppend) {
  if (AByteCount > 0) {
    WaitForInputBytes(AByteCount);
    FInputBuffer->ExtractToBytes(VBuffer, AByteCount, AAppend);
  } else if (AByteCount < 0) {
    // ReadTimeout as given: 0 polls here, -1 waits without limit.
    if (InputBufferIsEmpty()) FillInputBuffer(true, FReadTimeOut, false);
    CheckForDisconnect(true, false);
    if (!InputBufferIsEmpty()) FInputBuffer->ExtractToBytes(VBuffer, -1, AAppend);
  }
}

String TIdIOHandler::ReadString(int ABytes, const IIdTextEncoding& AByteEncoding) {
  if (ABytes < 1) return String();
  WaitForInputBytes(ABytes);
  return FInputBuffer->ExtractToString(ABytes, TextEncoding(AByteEncoding));
}

uint8_t TIdIOHandler::ReadByte() {
  WaitForInputBytes(1);
  return FInputBuffer->ExtractToUInt8(-1);
}

char16_t TIdIOHandler::ReadChar(const IIdTextEncoding& AByteEncoding) {
  const IIdTextEncoding& encoding = TextEncoding(AByteEncoding);
  const int most = std::max(encoding->GetMaxByteCount(2), 1);
  TIdBytes bytes;
  for (int i = 0; i < most; ++i) {
    bytes.push_back(ReadByte());
    const String chars = encoding->GetString(bytes);
    if (!chars.empty() && chars.find(u'\xFFFD') == String::npos) return chars[0];
  }
  EIdException::Toss(RSInvalidCharacterData);
}

int16_t TIdIOHandler::ReadInt16(bool AConvert) { return static_cast<int16_t>(ReadUInt16(AConvert)); }

uint16_t TIdIOHandler::ReadUInt16(bool AConvert) {
  WaitForInputBytes(2);
  return FInputBuffer->ExtractToUInt16(-1, AConvert);
}

int32_t TIdIOHandler::ReadInt32(bool AConvert) { return static_cast<int32_t>(ReadUInt32(AConvert)); }

uint32_t TIdIOHandler::ReadUInt32(bool AConvert) {
  WaitForInputBytes(4);
  return FInputBuffer->ExtractToUInt32(-1, AConvert);
}

int64_t TIdIOHandler::ReadInt64(bool AConvert) { return static_cast<int64_t>(ReadUInt64(AConvert)); }

uint64_t TIdIOHandler::ReadUInt64(bool AConvert) {
  WaitForInputBytes(8);
  return FInputBuffer->ExtractToUInt64(-1, AConvert);
}

void TIdIOHandler::ReadStrings(TStrings& ADest, int AReadLinesCount, const IIdTextEncoding& AByteEncoding) {
  if (AReadLinesCount < 0) AReadLinesCount = ReadInt32();
  for (int i = 0; i < AReadLinesCount; ++i) ADest.Add(ReadLn(AByteEncoding));
}

void TIdIOHandler::ReadStream(TStream* AStream, int64_t AByteCount, bool AReadUntilDisconnect) {
  if (AStream && AByteCount > 0 && AByteCount <= FInputBuffer->Size()) {
    // All of it is buffered (a small chunk of a busy stream): the one write the
    // general path below would make, without sizing the stream around it.
    BeginWork(wmRead, AByteCount);
    TScopeExit finish([this] { EndWork(wmRead); });
    FInputBuffer->ExtractToStream(*AStream, static_cast<int>(AByteCount));
    return;
  }
  bool untilClose = false;
  int64_t count = AByteCount;
  if (count < 0) {
    if (AReadUntilDisconnect) {
      untilClose = true;
    } else {
      count = FLargeStream ? ReadInt64() : ReadInt32();
      untilClose = count < 0;
    }
  }
  if (untilClose) count = 0;
  bool sized = false;  // the stream accepted a size; it is cut back to what came
  if (AStream && !untilClose) {
    const int64_t pos = AStream->Position();
    if (count > std::numeric_limits<int64_t>::max() - pos) EIdIOHandlerStreamDataTooLarge::Toss(RSDataTooLarge);
    try {
      // The count is the peer's word: room is made for at most a bounded part of it,
      // and the stream grows with what really arrives.
      AStream->SetSize(pos + std::min<int64_t>(count, kMaxStreamReserve));
      sized = true;
    } catch (const EStreamError&) {
      // A stream that cannot be sized (a pass-through stream) takes the bytes as they come.
    }
    AStream->SetPosition(pos);
  }
  BeginWork(wmRead, count);
  // Ends the work and gives the stream back without the room reserved for bytes that
  // never came, also when the read fails.
  TScopeExit finish([&] {
    EndWork(wmRead);
    if (AStream && (sized || untilClose)) {
      try {
        const int64_t pos = AStream->Position();
        if (AStream->Size() > pos) AStream->SetSize(pos);
      } catch (const EStreamError&) {
      }
    }
  });
  int64_t remaining = count;
  auto drain = [&] {
    int64_t n = FInputBuffer->Size();
    if (!untilClose) n = std::min(n, remaining);
    if (n <= 0) return;
    if (AStream)
      FInputBuffer->ExtractToStream(*AStream, static_cast<int>(n));
    else
      FInputBuffer->Remove(static_cast<int>(n));
    remaining -= n;
  };
  drain();
  while (untilClose || remaining > 0) {
    int got;
    try {
      got = FillInputBuffer(!untilClose, TimeoutUseDefault, true);
    } catch (...) {
      drain();
      throw;
    }
    drain();
    if (got < 1) {
      CheckForDisconnect(false, false);
      break;
    }
  }
  // The transport ended without the bytes that were promised.
  if (!untilClose && remaining > 0) RaiseClosedGracefully();
}

void TIdIOHandler::Discard(int64_t AByteCount) {
  if (AByteCount <= 0) return;
  BeginWork(wmRead, AByteCount);
  TScopeExit finish([this] { EndWork(wmRead); });
  int64_t remaining = AByteCount;
  for (;;) {
    const int n = static_cast<int>(std::min<int64_t>(FInputBuffer->Size(), remaining));
    if (n > 0) {
      FInputBuffer->Remove(n);
      remaining -= n;
    }
    if (remaining <= 0) break;
    if (FillInputBuffer(false, TimeoutUseDefault, true) < 1) {
      CheckForDisconnect(true, true);
      RaiseClosedGracefully();
    }
  }
}

void TIdIOHandler::DiscardAll() {
  BeginWork(wmRead);
  TScopeExit finish([this] { EndWork(wmRead); });
  FInputBuffer->Remove(FInputBuffer->Size());
  try {
    for (;;) {
      const int got = FillInputBuffer(true, TimeoutUseDefault, true);
      FInputBuffer->Remove(FInputBuffer->Size());
      if (got < 1) RaiseClosedGracefully();
    }
  } catch (const EIdConnClosedGracefully&) {
  } catch (...) {
    FInputBuffer->Remove(FInputBuffer->Size());
    throw;
  }
}

String TIdIOHandler::AllData(const IIdTextEncoding& AByteEncoding) {
  BeginWork(wmRead);
  TScopeExit finish([this] { EndWork(wmRead); });
  if (Connected()) {
    try {
      while (FillInputBuffer(true, 250, false) != 0) {
      }
    } catch (const Exception&) {
      // The peer's close, or any failure, ends the collection.
    }
  }
  return FInputBuffer->ExtractToString(-1, TextEncoding(AByteEncoding));
}

String TIdIOHandler::WaitFor(const String& AString, bool ARemoveFromBuffer, bool AInclusive,
                             const IIdTextEncoding& AByteEncoding, int ATimeout) {
  const IIdTextEncoding& encoding = TextEncoding(AByteEncoding);
  const TIdBytes bytes = BytesFromText(AString, encoding);
  if (bytes.empty()) EIdException::Toss(RSBufferMissingTerminator);
  const int len = static_cast<int>(bytes.size());
  int searchStart = 0;
  int pos = -1;
  for (;;) {
    const int size = FInputBuffer->Size();
    if (size > 0 && searchStart < size) pos = FInputBuffer->IndexOf(bytes, searchStart);
    if (pos >= 0) break;
    searchStart = std::max(size - len + 1, 0);
    CheckForDisconnect(true, true);
    FillInputBuffer(true, ATimeout, true);
  }
  if (ARemoveFromBuffer && AInclusive) return FInputBuffer->ExtractToString(pos + len, encoding);
  String result = FInputBuffer->ExtractToString(pos, encoding);
  if (ARemoveFromBuffer) FInputBuffer->Remove(len);
  if (AInclusive) result += AString;
  return result;
}

String TIdIOHandler::InputLn(const String& AMask, bool AEcho, int ATabWidth, int AMaxLineLength,
                             const IIdTextEncoding& AByteEncoding) {
  const IIdTextEncoding& encoding = TextEncoding(AByteEncoding);
  if (AMaxLineLength < 0) AMaxLineLength = FMaxLineLength;
  String line;
  for (;;) {
    const char16_t c = ReadChar(encoding);
    if (c == u'\n') break;
    if (c == 8) {
      if (!line.empty()) {
        line.pop_back();
        if (AEcho) Write(String(u"\b \b"), encoding);
      }
      continue;
    }
    if (c == u'\r' || c == 27) continue;
    String add;
    if (c == u'\t' && ATabWidth > 0) {
      const int blanks = ATabWidth - static_cast<int>(line.size()) % ATabWidth;
      add.assign(blanks, u' ');
    } else {
      add.assign(1, c);
    }
    if (AMaxLineLength > 0) {
      const int room = AMaxLineLength - static_cast<int>(line.size());
      if (room <= 0) continue;
      if (static_cast<int>(add.size()) > room) add.resize(room);
    }
    line += add;
    if (AEcho) Write(AMask.empty() ? add : String(add.size(), AMask[0]), encoding);
  }
  while (!line.empty() && (line.back() == u'\r' || line.back() == u'\n')) line.pop_back();
  if (AEcho) WriteLn(encoding);
  return line;
}

void TIdIOHandler::CaptureLines(TObject* ADest, int& VLineCount, const String& ADelim, bool AUsesDotTransparency,
                                const IIdTextEncoding& AByteEncoding) {
  auto* strings = dynamic_cast<TStrings*>(ADest);
  auto* stream = dynamic_cast<TStream*>(ADest);
  if (!strings && !stream) EIdObjectTypeNotSupported::Toss(RSObjectTypeNotSupported);
  const IIdTextEncoding& encoding = TextEncoding(AByteEncoding);
  VLineCount = 0;
  BeginWork(wmRead);
  TScopeExit finish([this] { EndWork(wmRead); });
  for (;;) {
    String line = ReadLn(encoding);
    if (line == ADelim) break;
    // MaxCapturedLines lines are allowed; the next one is one too many.
    if (FMaxCapturedLines > 0 && VLineCount >= FMaxCapturedLines)
      EIdMaxCaptureLineExceeded::Toss(RSMaximumNumberOfCaptureLineExceeded);
    if (AUsesDotTransparency && TextHasPrefix(line, u"..")) line.erase(0, 1);
    ++VLineCount;
    if (strings) {
      strings->Add(line);
    } else {
      line += u"\r\n";
      WriteTextToStream(*stream, line, -1, encoding);
    }
  }
}

void TIdIOHandler::Capture(TStream& ADest, const String& ADelim, bool AUsesDotTransparency,
                           const IIdTextEncoding& AByteEncoding) {
  int count = 0;
  CaptureLines(&ADest, count, ADelim, AUsesDotTransparency, AByteEncoding);
}

void TIdIOHandler::Capture(TStream& ADest, int& VLineCount, const String& ADelim, bool AUsesDotTransparency,
                           const IIdTextEncoding& AByteEncoding) {
  CaptureLines(&ADest, VLineCount, ADelim, AUsesDotTransparency, AByteEncoding);
}

void TIdIOHandler::Capture(TStrings& ADest, const String& ADelim, bool AUsesDotTransparency,
                           const IIdTextEncoding& AByteEncoding) {
  int count = 0;
  CaptureLines(&ADest, count, ADelim, AUsesDotTransparency, AByteEncoding);
}

void TIdIOHandler::Capture(TStrings& ADest, int& VLineCount, const String& ADelim, bool AUsesDotTransparency,
                           const IIdTextEncoding& AByteEncoding) {
  CaptureLines(&ADest, VLineCount, ADelim, AUsesDotTransparency, AByteEncoding);
}

// ---- Sending ------------------------------------------------------------------------------------

void TIdIOHandler::Write(const TIdBytes& ABuffer, int ALength, int AOffset) {
  const int size = static_cast<int>(ABuffer.size());
  if (AOffset < 0 || AOffset >= size) return;
  if (ALength < 0 || ALength > size - AOffset) ALength = size - AOffset;
  if (ALength < 1) return;
  if (FWriteBuffer) {
    FWriteBuffer->Write(ABuffer, ALength, AOffset);
    if (FWriteBufferThreshold > 0)
      while (FWriteBuffer && FWriteBuffer->Size() >= FWriteBufferThreshold) WriteBufferFlush(FWriteBufferThreshold);
  } else {
    WriteDirect(ABuffer, ALength, AOffset);
  }
}

void TIdIOHandler::WriteDirect(const TIdBytes& ABuffer, int ALength, int AOffset) {
  const int size = static_cast<int>(ABuffer.size());
  if (AOffset < 0 || AOffset > size) AOffset = size;
  if (ALength < 0 || ALength > size - AOffset) ALength = size - AOffset;
  CheckForDisconnect(true, true);
  TIdBytes copy;
  const TIdBytes* data = &ABuffer;
  int pos = AOffset;
  int remaining = ALength;
  if (FIntercept) {
    copy.assign(ABuffer.begin() + AOffset, ABuffer.begin() + AOffset + ALength);
    FIntercept->Send(copy);
    data = &copy;
    pos = 0;
    remaining = static_cast<int>(copy.size());
  }
  while (remaining > 0) {
    const int sent = WriteDataToTarget(*data, pos, remaining);
    if (sent < 0) {
      const int code = TranslateIOError(sent);
      if (code != kTimeoutCode) {
        FClosedGracefully = true;
        Close();
      }
      RaiseIOError(code);
    }
    if (sent == 0) FClosedGracefully = true;
    CheckForDisconnect(true, false);
    // A transport that takes nothing and does not report its end would spin here.
    if (sent == 0) RaiseClosedGracefully();
    DoWork(wmWrite, sent);
    pos += sent;
    remaining -= sent;
  }
}

void TIdIOHandler::Write(const String& AOut, const IIdTextEncoding& AByteEncoding) {
  if (AOut.empty()) return;
  Write(BytesFromText(AOut, TextEncoding(AByteEncoding)));
}

void TIdIOHandler::WriteLn(const IIdTextEncoding& AByteEncoding) { WriteLn(String(), AByteEncoding); }

void TIdIOHandler::WriteLn(const String& AOut, const IIdTextEncoding& AByteEncoding) {
  Write(AOut + u"\r\n", AByteEncoding);
}

void TIdIOHandler::WriteLnRFC(const String& AOut, const IIdTextEncoding& AByteEncoding) {
  if (TextHasPrefix(AOut, u"."))
    WriteLn(u"." + AOut, AByteEncoding);
  else
    WriteLn(AOut, AByteEncoding);
}

void TIdIOHandler::WriteRFCStrings(const TStrings& AStrings, bool AWriteTerminator,
                                   const IIdTextEncoding& AByteEncoding) {
  for (int i = 0; i < AStrings.Count(); ++i) WriteLnRFC(AStrings.Get(i), AByteEncoding);
  if (AWriteTerminator) WriteLn(u".", AByteEncoding);
}

void TIdIOHandler::Write(const TStrings& AValue, bool AWriteLinesCount, const IIdTextEncoding& AByteEncoding) {
  const bool opened = !WriteBufferingActive();
  if (opened) WriteBufferOpen();
  try {
    if (AWriteLinesCount) Write(static_cast<int32_t>(AValue.Count()));
    for (int i = 0; i < AValue.Count(); ++i) WriteLn(AValue.Get(i), AByteEncoding);
  } catch (...) {
    if (opened) WriteBufferCancel();
    throw;
  }
  if (opened) WriteBufferClose();
}

void TIdIOHandler::Write(uint8_t AValue) { Write(TIdBytes{AValue}); }

void TIdIOHandler::Write(char16_t AValue, const IIdTextEncoding& AByteEncoding) {
  Write(BytesFromChar(AValue, TextEncoding(AByteEncoding)));
}

void TIdIOHandler::Write(int16_t AValue, bool AConvert) { Write(static_cast<uint16_t>(AValue), AConvert); }

void TIdIOHandler::Write(uint16_t AValue, bool AConvert) {
  Write(BytesFromNumber(AConvert ? GStack()->HostToNetwork(AValue) : AValue));
}

void TIdIOHandler::Write(int32_t AValue, bool AConvert) { Write(static_cast<uint32_t>(AValue), AConvert); }

void TIdIOHandler::Write(uint32_t AValue, bool AConvert) {
  Write(BytesFromNumber(AConvert ? GStack()->HostToNetwork(AValue) : AValue));
}

void TIdIOHandler::Write(int64_t AValue, bool AConvert) { Write(static_cast<uint64_t>(AValue), AConvert); }

void TIdIOHandler::Write(uint64_t AValue, bool AConvert) {
  Write(BytesFromNumber(AConvert ? GStack()->HostToNetwork(AValue) : AValue));
}

void TIdIOHandler::Write(TStream& AStream, int64_t ASize, bool AWriteByteCount) {
  if (ASize < 0) {
    ASize = AStream.Size() - AStream.Position();
  } else if (ASize == 0) {
    AStream.SetPosition(0);
    ASize = AStream.Size();
  }
  if (ASize < 0) ASize = 0;
  if (AWriteByteCount) {
    if (FLargeStream) {
      Write(ASize);
    } else {
      if (ASize > std::numeric_limits<int32_t>::max()) EIdIOHandlerRequiresLargeStream::Toss(RSRequiresLargeStream);
      Write(static_cast<int32_t>(ASize));
    }
  }
  BeginWork(wmWrite, ASize);
  TScopeExit finish([this] { EndWork(wmWrite); });
  TIdBytes block;
  int64_t remaining = ASize;
  while (remaining > 0) {
    const int n = static_cast<int>(std::min<int64_t>(remaining, std::max(FSendBufferSize, 1)));
    block.resize(n);
    const int64_t got = AStream.Read(block.data(), n);
    if (got < 1) EIdNoDataToRead::Toss(RSNoDataToRead);
    Write(block, static_cast<int>(got));
    remaining -= got;
  }
}

int64_t TIdIOHandler::WriteFile(const String& AFile, bool) {
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(ToUtf8(AFile)), ec))
    EIdFileNotFound::Toss(FormatInvariant(RSFileNotFound, {AFile}));
  TFileStream stream(AFile, fmOpenRead);
  const int64_t size = stream.Size();
  Write(stream, 0, false);
  return size;
}

// ---- Write buffering -------------------------------------------------------------------------

void TIdIOHandler::WriteBufferOpen(int AThreshold) {
  if (FWriteBuffer)
    FWriteBuffer->Clear();
  else
    FWriteBuffer = std::make_unique<TIdBuffer>();
  FWriteBufferThreshold = AThreshold;
}

void TIdIOHandler::WriteBufferFlush(int AByteCount) {
  if (!FWriteBuffer || FWriteBuffer->Size() == 0) return;
  if (AByteCount < 0 || AByteCount > FWriteBuffer->Size()) AByteCount = FWriteBuffer->Size();
  if (AByteCount == 0) return;
  TIdBytes bytes;
  FWriteBuffer->ExtractToBytes(bytes, AByteCount);
  WriteDirect(bytes);
}

void TIdIOHandler::WriteBufferClear() {
  if (FWriteBuffer) FWriteBuffer->Clear();
}

void TIdIOHandler::WriteBufferClose() {
  TScopeExit drop([this] {
    FWriteBuffer.reset();
    FWriteBufferThreshold = 0;
  });
  WriteBufferFlush();
}

void TIdIOHandler::WriteBufferCancel() {
  WriteBufferClear();
  WriteBufferClose();
}

}  // namespace vyn
