// The library's error tree. Every error the library raises is an EIdException or a
// descendant; EIdSilentException marks an orderly end that callers finish quietly.
#pragma once

#include "vynSysUtils.h"

namespace vyn {

VYN_EXCEPTION_CLASS(EIdException, Exception);
VYN_EXCEPTION_CLASS(EIdSilentException, EIdException);
VYN_EXCEPTION_CLASS(EIdConnClosedGracefully, EIdSilentException);

VYN_EXCEPTION_CLASS(EIdSocketHandleError, EIdException);
VYN_EXCEPTION_CLASS(EIdPackageSizeTooBig, EIdSocketHandleError);
VYN_EXCEPTION_CLASS(EIdNotAllBytesSent, EIdSocketHandleError);
VYN_EXCEPTION_CLASS(EIdCouldNotBindSocket, EIdSocketHandleError);
VYN_EXCEPTION_CLASS(EIdCanNotBindPortInRange, EIdSocketHandleError);
VYN_EXCEPTION_CLASS(EIdInvalidPortRange, EIdSocketHandleError);
VYN_EXCEPTION_CLASS(EIdCannotSetIPVersionWhenConnected, EIdSocketHandleError);

// A platform socket failure; LastError is its code in the Windows Sockets numbering.
class EIdSocketError : public EIdException {
public:
  using EIdException::EIdException;
  EIdSocketError(int32_t AErr, const String& AMsg) : EIdException(AMsg), FLastError(AErr) {}
  [[noreturn]] static void Toss(const String& AMsg) { throw EIdSocketError(AMsg); }
  static EIdSocketError CreateError(int32_t AErr, const String& AMsg) { return {AErr, AMsg}; }
  int32_t LastError() const { return FLastError; }

private:
  int32_t FLastError = 0;
};

class EIdNotASocket : public EIdSocketError {
public:
  using EIdSocketError::EIdSocketError;
  [[noreturn]] static void Toss(const String& AMsg) { throw EIdNotASocket(AMsg); }
};

VYN_EXCEPTION_CLASS(EIdStackError, EIdException);
VYN_EXCEPTION_CLASS(EIdIPVersionUnsupported, EIdStackError);
VYN_EXCEPTION_CLASS(EIdStackInitializationFailed, EIdStackError);
VYN_EXCEPTION_CLASS(EIdStackSetSizeExceeded, EIdStackError);
VYN_EXCEPTION_CLASS(EIdInvalidServiceName, EIdException);

// A failure to load or call the platform's socket library. The message is Title,
// followed by ": " and the system's text when Win32Error is not 0.
class EIdWinsockStubError : public EIdException {
public:
  using EIdException::EIdException;
  [[noreturn]] static void Toss(const String& AMsg) { throw EIdWinsockStubError(AMsg); }
  static EIdWinsockStubError Build(uint32_t AWin32Error, const String& ATitle,
                                   std::initializer_list<TVarRec> AArgs);
  uint32_t Win32Error() const { return FWin32Error; }
  const String& Win32ErrorMessage() const { return FWin32ErrorMessage; }
  const String& Title() const { return FTitle; }

private:
  uint32_t FWin32Error = 0;
  String FWin32ErrorMessage;
  String FTitle;
};

VYN_EXCEPTION_CLASS(EIdInvalidIPv6Address, EIdException);
VYN_EXCEPTION_CLASS(EIdEndOfStream, EIdException);
VYN_EXCEPTION_CLASS(EIdNotEnoughDataInBuffer, EIdException);
VYN_EXCEPTION_CLASS(EIdTooMuchDataInBuffer, EIdException);
VYN_EXCEPTION_CLASS(EIdAlreadyConnected, EIdException);
VYN_EXCEPTION_CLASS(EIdClosedSocket, EIdException);
VYN_EXCEPTION_CLASS(EIdReadTimeout, EIdException);
VYN_EXCEPTION_CLASS(EIdReadLnMaxLineLengthExceeded, EIdException);
VYN_EXCEPTION_CLASS(EIdReadLnWaitMaxAttemptsExceeded, EIdException);
VYN_EXCEPTION_CLASS(EIdPortRequired, EIdException);
VYN_EXCEPTION_CLASS(EIdHostRequired, EIdException);
VYN_EXCEPTION_CLASS(EIdTCPConnectionError, EIdException);
VYN_EXCEPTION_CLASS(EIdObjectTypeNotSupported, EIdTCPConnectionError);
VYN_EXCEPTION_CLASS(EIdIOHandlerPropInvalid, EIdTCPConnectionError);
VYN_EXCEPTION_CLASS(EIdNoDataToRead, EIdTCPConnectionError);
VYN_EXCEPTION_CLASS(EIdFileNotFound, EIdTCPConnectionError);
VYN_EXCEPTION_CLASS(EIdNotConnected, EIdException);
VYN_EXCEPTION_CLASS(EIdSSLProtocolReplyError, EIdException);
VYN_EXCEPTION_CLASS(EIdConnectTimeout, EIdException);
VYN_EXCEPTION_CLASS(EIdConnectException, EIdException);
VYN_EXCEPTION_CLASS(EIdTransparentProxyCantBind, EIdException);
VYN_EXCEPTION_CLASS(EIdHttpProxyError, EIdException);

VYN_EXCEPTION_CLASS(EIdSocksError, EIdException);
VYN_EXCEPTION_CLASS(EIdSocksRequestFailed, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksRequestServerFailed, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksRequestIdentFailed, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksUnknownError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerRespondError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksAuthMethodError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksAuthError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerGeneralError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerPermissionError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerNetUnreachableError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerHostUnreachableError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerConnectionRefusedError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerTTLExpiredError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerCommandError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksServerAddressError, EIdSocksError);
VYN_EXCEPTION_CLASS(EIdSocksUDPNotSupportedBySOCKSVersion, EIdException);

VYN_EXCEPTION_CLASS(EIdTransparentProxyCircularLink, EIdException);
VYN_EXCEPTION_CLASS(EIdTransparentProxyUDPNotSupported, EIdException);
VYN_EXCEPTION_CLASS(EIdInterceptCircularLink, EIdException);

VYN_EXCEPTION_CLASS(EIdIOHandler, EIdException);
VYN_EXCEPTION_CLASS(EIdIOHandlerRequiresLargeStream, EIdIOHandler);
VYN_EXCEPTION_CLASS(EIdIOHandlerStreamDataTooLarge, EIdIOHandler);
VYN_EXCEPTION_CLASS(EIdMaxCaptureLineExceeded, EIdException);

VYN_EXCEPTION_CLASS(EIdReplyError, EIdException);

// An error answer of a line-based protocol; ErrorCode is its numeric reply code.
class EIdReplyRFCError : public EIdReplyError {
public:
  using EIdReplyError::EIdReplyError;
  EIdReplyRFCError(int32_t AErrorCode, const String& AReplyMessage)
      : EIdReplyError(AReplyMessage), FErrorCode(AErrorCode) {}
  [[noreturn]] static void Toss(const String& AMsg) { throw EIdReplyRFCError(AMsg); }
  static EIdReplyRFCError CreateError(int32_t AErrorCode, const String& AReplyMessage) {
    return {AErrorCode, AReplyMessage};
  }
  int32_t ErrorCode() const { return FErrorCode; }

private:
  int32_t FErrorCode = 0;
};

VYN_EXCEPTION_CLASS(EIdSchedulerException, EIdException);
VYN_EXCEPTION_CLASS(EIdSchedulerMaxThreadsExceeded, EIdSchedulerException);

// ---- OpenSSL ------------------------------------------------------------------------------
// The raise operations read the library's error queue through the TLS binding
// (vynIdSSLOpenSSLHeaders), which defines the protected helpers. Each class declared
// with the macros below has its own RaiseException/RaiseExceptionCode, which raise
// exactly that class.
VYN_EXCEPTION_CLASS(EIdOpenSSLError, EIdException);

// A failure reported through the library's error queue; ErrorCode is the queued code.
class EIdOpenSSLAPICryptoError : public EIdOpenSSLError {
public:
  using EIdOpenSSLError::EIdOpenSSLError;
  EIdOpenSSLAPICryptoError(const String& AMsg, uint32_t AErrorCode) : EIdOpenSSLError(AMsg), FErrorCode(AErrorCode) {}
  [[noreturn]] static void Toss(const String& AMsg) { throw EIdOpenSSLAPICryptoError(AMsg); }
  // Takes the next code off the queue, then as RaiseExceptionCode.
  [[noreturn]] static void RaiseException(const String& AMsg) { RaiseExceptionCode(TakeQueuedError(), AMsg); }
  // Message: AMsg, CR LF and the code's text; only the text when AMsg is empty.
  [[noreturn]] static void RaiseExceptionCode(uint32_t AErrCode, const String& AMsg) {
    throw EIdOpenSSLAPICryptoError(CodeMessage(AErrCode, AMsg), AErrCode);
  }
  uint32_t ErrorCode() const { return FErrorCode; }

protected:
  static uint32_t TakeQueuedError();
  static String CodeMessage(uint32_t AErrCode, const String& AMsg);

private:
  uint32_t FErrorCode = 0;
};

#define VYN_OPENSSL_CRYPTO_ERROR_CLASS(AName, AParent)                                   \
  class AName : public AParent {                                                        \
  public:                                                                               \
    using AParent::AParent;                                                             \
    [[noreturn]] static void Toss(const ::vyn::String& AMsg) { throw AName(AMsg); }     \
    [[noreturn]] static void RaiseException(const ::vyn::String& AMsg) {                \
      RaiseExceptionCode(TakeQueuedError(), AMsg);                                      \
    }                                                                                   \
    [[noreturn]] static void RaiseExceptionCode(uint32_t AErrCode, const ::vyn::String& AMsg) { \
      throw AName(CodeMessage(AErrCode, AMsg), AErrCode);                               \
    }                                                                                   \
  }

VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdOSSLUnderlyingCryptoError, EIdOpenSSLAPICryptoError);
VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdDigestError, EIdOpenSSLAPICryptoError);
VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdDigestFinalEx, EIdDigestError);
VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdDigestInitEx, EIdDigestError);

// A failed call on a session: ErrorCode is SSL_get_error's value, RetCode the call's
// result.
class EIdOpenSSLAPISSLError : public EIdOpenSSLError {
public:
  using EIdOpenSSLError::EIdOpenSSLError;
  EIdOpenSSLAPISSLError(const String& AMsg, int32_t AErrorCode, int32_t ARetCode)
      : EIdOpenSSLError(AMsg), FErrorCode(AErrorCode), FRetCode(ARetCode) {}
  [[noreturn]] static void Toss(const String& AMsg) { throw EIdOpenSSLAPISSLError(AMsg); }
  // RaiseExceptionCode(SSL_get_error(ASSL, ARetCode), ARetCode, AMsg). ASSL is the
  // library's session (an SSL*).
  [[noreturn]] static void RaiseException(void* ASSL, int32_t ARetCode, const String& AMsg) {
    RaiseExceptionCode(SessionError(ASSL, ARetCode), ARetCode, AMsg);
  }
  // A protocol error (1) raises the queue's error as EIdOSSLUnderlyingCryptoError; a
  // system-call error (5) the queue's error when there is one, else "EOF was observed
  // that violates the protocol" for a result of 0 or the last socket error for -1;
  // anything else this class with the code's text.
  [[noreturn]] static void RaiseExceptionCode(int32_t AErrCode, int32_t ARetCode, const String& AMsg) {
    RaiseCode(AErrCode, ARetCode, AMsg, [](const String& M, int32_t E, int32_t R) { throw EIdOpenSSLAPISSLError(M, E, R); });
  }
  int32_t ErrorCode() const { return FErrorCode; }
  int32_t RetCode() const { return FRetCode; }

protected:
  using TThrower = void (*)(const String& AMsg, int32_t AErrCode, int32_t ARetCode);
  static int32_t SessionError(void* ASSL, int32_t ARetCode);
  [[noreturn]] static void RaiseCode(int32_t AErrCode, int32_t ARetCode, const String& AMsg, TThrower AThrow);

private:
  int32_t FErrorCode = 0;
  int32_t FRetCode = 0;
};

#define VYN_OPENSSL_SSL_ERROR_CLASS(AName, AParent)                                                   \
  class AName : public AParent {                                                                      \
  public:                                                                                             \
    using AParent::AParent;                                                                           \
    [[noreturn]] static void Toss(const ::vyn::String& AMsg) { throw AName(AMsg); }                   \
    [[noreturn]] static void RaiseException(void* ASSL, int32_t ARetCode, const ::vyn::String& AMsg) { \
      RaiseExceptionCode(SessionError(ASSL, ARetCode), ARetCode, AMsg);                               \
    }                                                                                                 \
    [[noreturn]] static void RaiseExceptionCode(int32_t AErrCode, int32_t ARetCode, const ::vyn::String& AMsg) { \
      RaiseCode(AErrCode, ARetCode, AMsg,                                                             \
                [](const ::vyn::String& M, int32_t E, int32_t R) { throw AName(M, E, R); });          \
    }                                                                                                 \
  }

// The TLS handler's errors.
VYN_EXCEPTION_CLASS(EIdOSSLCouldNotLoadSSLLibrary, EIdOpenSSLError);
VYN_EXCEPTION_CLASS(EIdOSSLModeNotSet, EIdOpenSSLError);
VYN_EXCEPTION_CLASS(EIdOSSLGetMethodError, EIdOpenSSLError);
VYN_EXCEPTION_CLASS(EIdOSSLCreatingSessionError, EIdOpenSSLError);
VYN_EXCEPTION_CLASS(EIdOSSLSettingCipherError, EIdOpenSSLError);
VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdOSSLCreatingContextError, EIdOpenSSLAPICryptoError);
VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdOSSLLoadingRootCertError, EIdOpenSSLAPICryptoError);
VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdOSSLLoadingCertError, EIdOpenSSLAPICryptoError);
VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdOSSLLoadingKeyError, EIdOpenSSLAPICryptoError);
VYN_OPENSSL_CRYPTO_ERROR_CLASS(EIdOSSLLoadingDHParamsError, EIdOpenSSLAPICryptoError);
VYN_OPENSSL_SSL_ERROR_CLASS(EIdOSSLFDSetError, EIdOpenSSLAPISSLError);
VYN_OPENSSL_SSL_ERROR_CLASS(EIdOSSLDataBindingError, EIdOpenSSLAPISSLError);
VYN_OPENSSL_SSL_ERROR_CLASS(EIdOSSLAcceptError, EIdOpenSSLAPISSLError);
VYN_OPENSSL_SSL_ERROR_CLASS(EIdOSSLConnectError, EIdOpenSSLAPISSLError);

// The listener: activation and configuration failures.
VYN_EXCEPTION_CLASS(EIdHTTPServerError, EIdException);

}  // namespace vyn
