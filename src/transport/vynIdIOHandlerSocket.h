// The I/O handler half that owns a socket handle: local binding options, the
// Destination text, and the transparent-proxy slot. TIdIOHandlerStack makes it work
// over the socket stack.
#pragma once

#include <memory>

#include "vynIdCustomTransparentProxy.h"
#include "vynIdIOHandler.h"
#include "vynIdSocketHandle.h"

namespace vyn {

class TIdIOHandlerSocket : public TIdIOHandler {
public:
  explicit TIdIOHandlerSocket(TComponent* AOwner = nullptr);
  // Closes the socket; the base then runs its own close.
  ~TIdIOHandlerSocket() override;

  // Host, then ":" and Port when Port is positive and differs from DefaultPort.
  String Destination() const override;
  // Splits at the last ":"; a port that is not a number falls back to DefaultPort. A
  // text without ":" changes nothing.
  void SetDestination(const String& AValue) override;

  // Resets (or creates) the binding and, with a host and a port, connects it.
  void Open() override;
  void Close() override;
  // Also true while unread input remains.
  bool Connected() override;
  bool SourceIsAvailable() override;
  // Lets the peer-gone codes (10053, 10054, 10058) and the time-out code (10060) through.
  int TranslateIOError(int AResult) override;
  [[noreturn]] void RaiseIOError(int AError) override;
  void AfterAccept() override;
  // A missing file gives 0 without an error.
  int64_t WriteFile(const String& AFile, bool AEnableTransferFile = false) override;

  // Allocates and binds the socket (the stack handler then resolves and connects).
  virtual void ConnectClientSocket();
  bool BindingAllocated() const;

  // Owned by the handler; none until the first Open.
  TIdSocketHandle* Binding() const { return FBinding.get(); }
  const String& BoundIP() const { return FBoundIP; }
  void SetBoundIP(const String& AValue) { FBoundIP = AValue; }
  uint16_t BoundPort() const { return FBoundPort; }
  void SetBoundPort(uint16_t AValue) { FBoundPort = AValue; }
  uint16_t BoundPortMax() const { return FBoundPortMax; }
  void SetBoundPortMax(uint16_t AValue) { FBoundPortMax = AValue; }
  uint16_t BoundPortMin() const { return FBoundPortMin; }
  void SetBoundPortMin(uint16_t AValue) { FBoundPortMin = AValue; }
  uint16_t DefaultPort() const { return FDefaultPort; }
  void SetDefaultPort(uint16_t AValue) { FDefaultPort = AValue; }
  // These read from the binding when it exists; they and LingerState write to both.
  bool UseNagle() const;
  void SetUseNagle(bool AValue);
  TIdReuseSocket ReuseSocket() const;
  void SetReuseSocket(TIdReuseSocket AValue);
  bool IO() const;
  void SetIO(bool AValue);
  int32_t LingerState() const { return FLingerState; }
  void SetLingerState(int32_t AValue);
  TIdIPVersion IPVersion() const { return FIPVersion; }
  void SetIPVersion(TIdIPVersion AValue) { FIPVersion = AValue; }

  // Without a proxy set, a disabled SOCKS object owned by the handler is created and
  // returned. The handler-owned proxy lives as long as the handler.
  virtual TIdCustomTransparentProxy* TransparentProxy();
  // A proxy with an owner is used by reference (forgotten when destroyed); one without
  // is copied into a handler-owned proxy of its class. None drops the proxy.
  virtual void SetTransparentProxy(TIdCustomTransparentProxy* AValue);
  // The proxy in use, if any, without creating one.
  TIdCustomTransparentProxy* CurrentTransparentProxy() const { return FTransparentProxy; }

  TNotifyEvent OnBeforeBind;
  TNotifyEvent OnAfterBind;
  TNotifyEvent OnSocketAllocated;

protected:
  virtual void FireBeforeBind();
  virtual void FireAfterBind();
  virtual void FireSocketAllocated();
  void Notification(TComponent* AComponent, TOperation AOperation) override;
  // The proxy to connect through: set and enabled.
  TIdCustomTransparentProxy* ActiveProxy() const {
    return FTransparentProxy && FTransparentProxy->Enabled() ? FTransparentProxy : nullptr;
  }

  std::unique_ptr<TIdSocketHandle> FBinding;
  String FBoundIP;
  uint16_t FBoundPort = 0;
  uint16_t FBoundPortMax = 0;
  uint16_t FBoundPortMin = 0;
  uint16_t FDefaultPort = 0;
  TIdCustomTransparentProxy* FTransparentProxy = nullptr;
  bool FImplicitTransparentProxy = false;
  bool FUseNagle = true;
  TIdReuseSocket FReuseSocket = rsOSDependent;
  TIdIPVersion FIPVersion = ID_DEFAULT_IP_VERSION;
  int32_t FLingerState = -1;
  bool FIO = false;

private:
  void DropTransparentProxy();
  // The handler-owned proxy (also a component owned by the handler); FTransparentProxy
  // points to it while FImplicitTransparentProxy is set.
  std::unique_ptr<TIdCustomTransparentProxy> FOwnedProxy;
};

}  // namespace vyn
