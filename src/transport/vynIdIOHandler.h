// The transport-independent half of a connection: an input buffer that receives
// arrive in, the blocking read operations protocol code uses, the write operations
// with optional write buffering, time-outs, the intercept hook on every send and
// receive, and the rules that turn a closed or failed transport into the library's
// errors. Subclasses supply the transport through ReadDataFromSource,
// WriteDataToTarget, SourceIsAvailable, Readable, CheckForDisconnect, TranslateIOError
// and RaiseIOError.
//
// A handler is used by one thread at a time.
#pragma once

#include <memory>
#include <typeinfo>

#include "vynIdBuffer.h"
#include "vynIdComponent.h"
#include "vynIdGlobal.h"
#include "vynIdIntercept.h"
#include "vynIdTextEncoding.h"

namespace vyn {

class TIdIOHandler;

// A handler class as a value, as the registry keeps it: its name, whether it is a
// given class or derives from it, and how to make an instance.
class TIdIOHandlerClass {
public:
  TIdIOHandlerClass() = default;
  template <class T>
  static TIdIOHandlerClass Of() {
    TIdIOHandlerClass c;
    c.FType = &typeid(T);
    c.FThrow = [] { throw static_cast<T*>(nullptr); };
    // Whether a class derives from T is asked of the language itself: a pointer of
    // the derived class thrown is caught as a pointer to its base.
    c.FCatches = [](TThrower AThrower) {
      try {
        AThrower();
      } catch (T*) {
        return true;
      } catch (...) {
      }
      return false;
    };
    if constexpr (!std::is_abstract_v<T>)
      c.FCreate = []() -> std::unique_ptr<TIdIOHandler> { return std::make_unique<T>(); };
    return c;
  }

  bool Assigned() const { return FType != nullptr; }
  String Name() const { return FType ? ClassNameOf(*FType) : String(u"nil"); }
  bool InheritsFrom(const TIdIOHandlerClass& ABase) const {
    return FType && ABase.FType && ABase.FCatches(FThrow);
  }
  bool CanCreate() const { return FCreate != nullptr; }
  // A new instance without owner; nullptr for an abstract class.
  std::unique_ptr<TIdIOHandler> Create() const { return FCreate ? FCreate() : nullptr; }
  bool operator==(const TIdIOHandlerClass& A) const {
    return FType == A.FType || (FType && A.FType && *FType == *A.FType);
  }

private:
  using TThrower = void (*)();
  const std::type_info* FType = nullptr;
  TThrower FThrow = nullptr;
  bool (*FCatches)(TThrower) = nullptr;
  std::unique_ptr<TIdIOHandler> (*FCreate)() = nullptr;
};

enum TIdMaxLineAction { maException, maSplit };

class TIdIOHandler : public TIdComponent {
public:
  explicit TIdIOHandler(TComponent* AOwner = nullptr);
  // Runs this class's Close (intercept Disconnect, marked closed) and frees both
  // buffers. A subclass whose Close releases a transport must release it in its own
  // destructor: by the time this one runs, the subclass's Close is out of reach.
  ~TIdIOHandler() override;

  // ---- Registry of handler classes (process-wide) -----------------------------------
  static void RegisterIOHandler(const TIdIOHandlerClass& AClass);  // no duplicates
  static void SetDefaultClass(const TIdIOHandlerClass& AClass);   // also registers it
  static TIdIOHandlerClass DefaultClass();
  // An instance of the default class, or none when no class is the default.
  static std::unique_ptr<TIdIOHandler> MakeDefaultIOHandler();
  // The last registered class that is ABaseType or derives from it, or none.
  static std::unique_ptr<TIdIOHandler> TryMakeIOHandler(const TIdIOHandlerClass& ABaseType);
  // The same; EIdException "No IOHandler of type %s is installed." when nothing fits.
  static std::unique_ptr<TIdIOHandler> MakeIOHandler(const TIdIOHandlerClass& ABaseType);

  // ---- Properties -----------------------------------------------------------------------
  bool LargeStream() const { return FLargeStream; }
  void SetLargeStream(bool AValue) { FLargeStream = AValue; }
  bool ClosedGracefully() const { return FClosedGracefully; }
  int32_t ConnectTimeout() const { return FConnectTimeout; }
  void SetConnectTimeout(int32_t AValue) { FConnectTimeout = AValue; }
  // Host and port joined by a colon; the socket handlers split and join it.
  virtual String Destination() const { return FDestination; }
  virtual void SetDestination(const String& AValue) { FDestination = AValue; }
  const String& Host() const { return FHost; }
  virtual void SetHost(const String& AValue) { FHost = AValue; }
  int32_t Port() const { return FPort; }
  virtual void SetPort(int32_t AValue) { FPort = AValue; }
  // Owned by the handler for its whole life.
  TIdBuffer* InputBuffer() const { return FInputBuffer.get(); }
  // Not owned; forgotten when the intercept is destroyed.
  TIdConnectionIntercept* Intercept() const { return FIntercept; }
  virtual void SetIntercept(TIdConnectionIntercept* AValue);
  int32_t MaxCapturedLines() const { return FMaxCapturedLines; }
  void SetMaxCapturedLines(int32_t AValue) { FMaxCapturedLines = AValue; }
  TIdMaxLineAction MaxLineAction() const { return FMaxLineAction; }
  void SetMaxLineAction(TIdMaxLineAction AValue) { FMaxLineAction = AValue; }
  // 0 means unlimited.
  int32_t MaxLineLength() const { return FMaxLineLength; }
  void SetMaxLineLength(int32_t AValue) { FMaxLineLength = AValue; }
  bool Opened() const { return FOpened; }
  bool ReadLnSplit() const { return FReadLnSplit; }
  bool ReadLnTimedout() const { return FReadLnTimedOut; }
  // -1 and 0 mean no limit.
  int32_t ReadTimeout() const { return FReadTimeOut; }
  void SetReadTimeout(int32_t AValue) { FReadTimeOut = AValue; }
  int32_t RecvBufferSize() const { return FRecvBufferSize; }
  void SetRecvBufferSize(int32_t AValue) { FRecvBufferSize = AValue; }
  int32_t SendBufferSize() const { return FSendBufferSize; }
  void SetSendBufferSize(int32_t AValue) { FSendBufferSize = AValue; }
  int32_t WriteBufferThreshold() const { return FWriteBufferThreshold; }
  const IIdTextEncoding& DefStringEncoding() const { return FDefStringEncoding; }
  // None stores the library default.
  void SetDefStringEncoding(const IIdTextEncoding& AValue);

  // ---- Transport (supplied by subclasses) ----------------------------------------------
  // One receive into VBuffer, whose length is the most to read: the count, 0 when the
  // peer closed, negative on error.
  virtual int ReadDataFromSource(TIdBytesSpan VBuffer) = 0;
  // One send of the range: the count sent, negative on error.
  virtual int WriteDataToTarget(const TIdBytes& ABuffer, int AOffset, int ALength) = 0;
  virtual bool SourceIsAvailable() = 0;
  // For a failed result: the error code when it means that the peer is gone or that
  // the wait timed out; raises the error for any other code.
  virtual int TranslateIOError(int AResult) = 0;
  [[noreturn]] virtual void RaiseIOError(int AError) = 0;
  virtual void AfterAccept() {}
  virtual bool Connected();
  // Closes a transport marked closed gracefully; raises EIdConnClosedGracefully when
  // disconnected and asked to, once the buffered input is used up (or at once with
  // AIgnoreBuffer).
  virtual void CheckForDisconnect(bool ARaiseExceptionIfDisconnected = true, bool AIgnoreBuffer = false) = 0;
  // Whether data can be read within AMSec (TimeoutInfinite: no limit).
  virtual bool Readable(int AMSec = TimeoutInfinite);

  // ---- Lifecycle --------------------------------------------------------------------------
  // Clears both buffers and the closed marks, then marks the handler opened.
  virtual void Open();
  // The intercept's Disconnect, then (even when that fails) not opened and the write
  // buffer emptied. Buffered input stays readable.
  virtual void Close();
  void CloseGracefully() { FClosedGracefully = true; }
  [[noreturn]] void RaiseClosedGracefully();

  // ---- Reading ------------------------------------------------------------------------------
  // One receive: the bytes added, 0 when the peer closed, -1 on time-out.
  int FillInputBuffer(bool ARaiseExceptionIfDisconnected = true, int ATimeout = TimeoutUseDefault,
                      bool ARaiseExceptionOnTimeout = true);
  bool InputBufferIsEmpty() const { return FInputBuffer->Size() == 0; }
  String InputBufferAsString(const IIdTextEncoding& AByteEncoding = nullptr);
  void InputBufferToStream(TStream& AStream, int AByteCount = -1);
  // False when not connected; true when data arrived while checking or within ATimeout.
  bool CheckForDataOnSource(int ATimeout = 0);

  String ReadLn(const IIdTextEncoding& AByteEncoding = nullptr);
  String ReadLn(const String& ATerminator, const IIdTextEncoding& AByteEncoding = nullptr);
  // The line without its terminator (LF by default; a CR before a lone LF terminator
  // goes too). After a time-out: an empty string with ReadLnTimedout set. A negative
  // AMaxLineLength takes MaxLineLength.
  virtual String ReadLn(const String& ATerminator, int ATimeout, int AMaxLineLength = -1,
                        const IIdTextEncoding& AByteEncoding = nullptr);
  String ReadLnSplit(bool& AWasSplit, const String& ATerminator = String(), int ATimeout = TimeoutUseDefault,
                     int AMaxLineLength = -1, const IIdTextEncoding& AByteEncoding = nullptr);
  String ReadLnRFC(bool& VMsgEnd, const String& ALineTerminator = u"\n", const String& ADelim = u".",
                   const IIdTextEncoding& AByteEncoding = nullptr);
  // The first line that is not blank; EIdReadTimeout on a time-out,
  // EIdReadLnWaitMaxAttemptsExceeded after AFailCount empty lines.
  virtual String ReadLnWait(int AFailCount = 2147483647, const IIdTextEncoding& AByteEncoding = nullptr);
  // Positive: exactly that many bytes; negative: whatever one receive brings (waiting
  // ReadTimeout); 0: nothing.
  virtual void ReadBytes(TIdBytes& VBuffer, int AByteCount, bool AAppend = true);
  String ReadString(int ABytes, const IIdTextEncoding& AByteEncoding = nullptr);
  uint8_t ReadByte();
  char16_t ReadChar(const IIdTextEncoding& AByteEncoding = nullptr);
  int16_t ReadInt16(bool AConvert = true);
  uint16_t ReadUInt16(bool AConvert = true);
  int32_t ReadInt32(bool AConvert = true);
  uint32_t ReadUInt32(bool AConvert = true);
  int64_t ReadInt64(bool AConvert = true);
  uint64_t ReadUInt64(bool AConvert = true);
  int16_t ReadSmallInt(bool AConvert = true) { return ReadInt16(AConvert); }
  uint16_t ReadWord(bool AConvert = true) { return ReadUInt16(AConvert); }
  int32_t ReadLongInt(bool AConvert = true) { return ReadInt32(AConvert); }
  uint32_t ReadLongWord(bool AConvert = true) { return ReadUInt32(AConvert); }
  // A negative count is read first as a 32-bit number in network order.
  void ReadStrings(TStrings& ADest, int AReadLinesCount = -1, const IIdTextEncoding& AByteEncoding = nullptr);
  // AByteCount bytes into AStream (none: dropped). -1 with AReadUntilDisconnect reads
  // until the peer closes; -1 without reads a size prefix first (64-bit with
  // LargeStream). Every receive reaches the stream as one write.
  virtual void ReadStream(TStream* AStream, int64_t AByteCount = -1, bool AReadUntilDisconnect = false);
  void Discard(int64_t AByteCount);
  void DiscardAll();
  // Receives until the peer closes (250 ms per receive), then everything buffered.
  virtual String AllData(const IIdTextEncoding& AByteEncoding = nullptr);
  String WaitFor(const String& AString, bool ARemoveFromBuffer = true, bool AInclusive = false,
                 const IIdTextEncoding& AByteEncoding = nullptr, int ATimeout = TimeoutUseDefault);
  virtual String InputLn(const String& AMask = String(), bool AEcho = true, int ATabWidth = 8,
                         int AMaxLineLength = -1, const IIdTextEncoding& AByteEncoding = nullptr);

  // Lines up to ADelim (not stored) into a TStrings or a TStream (each line plus CR LF
  // in the encoding); any other destination raises EIdObjectTypeNotSupported.
  virtual void CaptureLines(TObject* ADest, int& VLineCount, const String& ADelim = u".",
                            bool AUsesDotTransparency = true, const IIdTextEncoding& AByteEncoding = nullptr);
  void Capture(TStream& ADest, const String& ADelim = u".", bool AUsesDotTransparency = true,
               const IIdTextEncoding& AByteEncoding = nullptr);
  void Capture(TStream& ADest, int& VLineCount, const String& ADelim = u".", bool AUsesDotTransparency = true,
               const IIdTextEncoding& AByteEncoding = nullptr);
  void Capture(TStrings& ADest, const String& ADelim = u".", bool AUsesDotTransparency = true,
               const IIdTextEncoding& AByteEncoding = nullptr);
  void Capture(TStrings& ADest, int& VLineCount, const String& ADelim = u".", bool AUsesDotTransparency = true,
               const IIdTextEncoding& AByteEncoding = nullptr);

  // ---- Writing -------------------------------------------------------------------------------
  // The single entry of all writes: ALength bytes from AOffset (negative: to the end;
  // clamped to the array). Goes to the write buffer while it is open.
  virtual void Write(const TIdBytes& ABuffer, int ALength = -1, int AOffset = 0);
  // Bypasses write buffering: through the intercept's Send, then the transport.
  void WriteDirect(const TIdBytes& ABuffer, int ALength = -1, int AOffset = 0);
  virtual void Write(const String& AOut, const IIdTextEncoding& AByteEncoding = nullptr);
  virtual void WriteLn(const IIdTextEncoding& AByteEncoding = nullptr);
  virtual void WriteLn(const String& AOut, const IIdTextEncoding& AByteEncoding = nullptr);
  virtual void WriteLnRFC(const String& AOut = String(), const IIdTextEncoding& AByteEncoding = nullptr);
  void WriteRFCStrings(const TStrings& AStrings, bool AWriteTerminator = true,
                       const IIdTextEncoding& AByteEncoding = nullptr);
  virtual void Write(const TStrings& AValue, bool AWriteLinesCount = false,
                     const IIdTextEncoding& AByteEncoding = nullptr);
  void Write(uint8_t AValue);
  void Write(char16_t AValue, const IIdTextEncoding& AByteEncoding = nullptr);
  void Write(int16_t AValue, bool AConvert = true);
  void Write(uint16_t AValue, bool AConvert = true);
  void Write(int32_t AValue, bool AConvert = true);
  void Write(uint32_t AValue, bool AConvert = true);
  void Write(int64_t AValue, bool AConvert = true);
  void Write(uint64_t AValue, bool AConvert = true);
  // ASize negative: from the position to the end; 0: all of it from its start;
  // positive: that many from the position. With AWriteByteCount the size goes first.
  virtual void Write(TStream& AStream, int64_t ASize = 0, bool AWriteByteCount = false);
  virtual int64_t WriteFile(const String& AFile, bool AEnableTransferFile = false);

  // Write buffering. AThreshold > 0 flushes in blocks of that size as they fill;
  // -1 (the default) waits for an explicit flush or close.
  void WriteBufferOpen(int AThreshold = -1);
  void WriteBufferFlush(int AByteCount = -1);
  void WriteBufferClear();
  // Flushes, then drops the write buffer (also when the flush fails).
  void WriteBufferClose();
  // Drops the buffered bytes unsent and closes.
  void WriteBufferCancel();
  bool WriteBufferingActive() const { return FWriteBuffer != nullptr; }

protected:
  // Waits until at least N bytes are buffered.
  void WaitForInputBytes(int N);
  void Notification(TComponent* AComponent, TOperation AOperation) override;
  const IIdTextEncoding& TextEncoding(const IIdTextEncoding& AByteEncoding) const;
  // A timeout as given to an operation, with TimeoutUseDefault and a ReadTimeout of
  // -1 or 0 (and any other negative value) turned into TimeoutInfinite.
  int EffectiveTimeout(int ATimeout) const;

  bool FLargeStream = false;
  bool FClosedGracefully = false;
  int32_t FConnectTimeout = 0;
  String FDestination;
  String FHost;
  std::unique_ptr<TIdBuffer> FInputBuffer;
  TIdConnectionIntercept* FIntercept = nullptr;
  int32_t FMaxCapturedLines = -1;
  TIdMaxLineAction FMaxLineAction = maException;
  int32_t FMaxLineLength = 16384;
  bool FOpened = false;
  int32_t FPort = 0;
  bool FReadLnSplit = false;
  bool FReadLnTimedOut = false;
  int32_t FReadTimeOut = -1;
  int32_t FRecvBufferSize = 32768;
  int32_t FSendBufferSize = 32768;
  std::unique_ptr<TIdBuffer> FWriteBuffer;
  int32_t FWriteBufferThreshold = 0;
  IIdTextEncoding FDefStringEncoding;
};

}  // namespace vyn
