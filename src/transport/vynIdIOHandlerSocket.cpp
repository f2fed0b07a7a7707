#include "vynIdIOHandlerSocket.h"

#include <filesystem>

#include "vynIdSocks.h"
#include "vynIdStack.h"

namespace vyn {

TIdIOHandlerSocket::TIdIOHandlerSocket(TComponent* AOwner) : TIdIOHandler(AOwner) {}

TIdIOHandlerSocket::~TIdIOHandlerSocket() {
  try {
    if (FBinding) FBinding->CloseSocket();
  } catch (...) {
  }
  DropTransparentProxy();
}

String TIdIOHandlerSocket::Destination() const {
  if (FPort > 0 && FPort != FDefaultPort) return FHost + u":" + IntToStr(FPort);
  return FHost;
}

void TIdIOHandlerSocket::SetDestination(const String& AValue) {
  const auto colon = AValue.rfind(u':');
  if (colon == String::npos) return;
  SetHost(AValue.substr(0, colon));
  const String port = Trim(StringView(AValue).substr(colon + 1, 255));
  SetPort(TrimmedStrToInt(port, FDefaultPort));
}

void TIdIOHandlerSocket::Open() {
  TIdIOHandler::Open();
  if (FBinding) {
    // A socket left over from an earlier connection is closed, not leaked.
    if (FBinding->HandleAllocated()) FBinding->CloseSocket();
    FBinding->Reset(true);
  } else {
    FBinding = std::make_unique<TIdSocketHandle>();
    FBinding->SetIO(FIO);
  }
  FBinding->SetClientPortMin(FBoundPortMin);
  FBinding->SetClientPortMax(FBoundPortMax);
  if (!FHost.empty() && FPort > 0) ConnectClientSocket();
}

void TIdIOHandlerSocket::ConnectClientSocket() {
  FireBeforeBind();
  FBinding->SetIPVersion(FIPVersion);
  FBinding->AllocateSocket(Id_SOCK_STREAM, 0);
  FireSocketAllocated();
  if (!FBoundIP.empty()) FBinding->SetIP(FBoundIP);
  FBinding->SetPort(FBoundPort);
  FBinding->SetClientPortMin(FBoundPortMin);
  FBinding->SetClientPortMax(FBoundPortMax);
  FBinding->SetReuseSocket(FReuseSocket);
  FBinding->Bind();
  FBinding->SetUseNagle(FUseNagle);
  FBinding->SetLingerState(FLingerState);
  FireAfterBind();
}

void TIdIOHandlerSocket::Close() {
  if (FBinding) FBinding->CloseSocket();
  TIdIOHandler::Close();
}

bool TIdIOHandlerSocket::Connected() {
  return (BindingAllocated() && TIdIOHandler::Connected()) || !InputBufferIsEmpty();
}

bool TIdIOHandlerSocket::SourceIsAvailable() { return BindingAllocated(); }

bool TIdIOHandlerSocket::BindingAllocated() const { return FBinding && FBinding->HandleAllocated(); }

int TIdIOHandlerSocket::TranslateIOError(int AResult) {
  return GStack()->CheckForSocketError(AResult, {Id_WSAESHUTDOWN, Id_WSAECONNABORTED, Id_WSAECONNRESET,
                                                 Id_WSAETIMEDOUT});
}

void TIdIOHandlerSocket::RaiseIOError(int AError) {
  GStack()->RaiseSocketError(AError);
  throw EIdSocketError(AError, GStack()->WSTranslateSocketErrorMsg(AError));  // not reached
}

void TIdIOHandlerSocket::AfterAccept() {
  if (FBinding) FIPVersion = FBinding->IPVersion();
}

int64_t TIdIOHandlerSocket::WriteFile(const String& AFile, bool AEnableTransferFile) {
  std::error_code ec;
  if (!std::filesystem::exists(std::filesystem::path(ToUtf8(AFile)), ec)) return 0;
  // The stack offers no whole-file send, so the file goes through the ordinary writes.
  return TIdIOHandler::WriteFile(AFile, AEnableTransferFile);
}

bool TIdIOHandlerSocket::UseNagle() const { return FBinding ? FBinding->UseNagle() : FUseNagle; }

void TIdIOHandlerSocket::SetUseNagle(bool AValue) {
  FUseNagle = AValue;
  if (FBinding) FBinding->SetUseNagle(AValue);
}

TIdReuseSocket TIdIOHandlerSocket::ReuseSocket() const { return FBinding ? FBinding->ReuseSocket() : FReuseSocket; }

void TIdIOHandlerSocket::SetReuseSocket(TIdReuseSocket AValue) {
  FReuseSocket = AValue;
  if (FBinding) FBinding->SetReuseSocket(AValue);
}

bool TIdIOHandlerSocket::IO() const { return FBinding ? FBinding->IO() : FIO; }

void TIdIOHandlerSocket::SetIO(bool AValue) {
  FIO = AValue;
  if (FBinding) FBinding->SetIO(AValue);
}

void TIdIOHandlerSocket::SetLingerState(int32_t AValue) {
  FLingerState = AValue;
  if (FBinding) FBinding->SetLingerState(AValue);
}

void TIdIOHandlerSocket::FireBeforeBind() {
  if (OnBeforeBind) OnBeforeBind(this);
}

void TIdIOHandlerSocket::FireAfterBind() {
  if (OnAfterBind) OnAfterBind(this);
}

void TIdIOHandlerSocket::FireSocketAllocated() {
  if (OnSocketAllocated) OnSocketAllocated(this);
}

TIdCustomTransparentProxy* TIdIOHandlerSocket::TransparentProxy() {
  if (!FTransparentProxy) {
    FOwnedProxy.reset(CreateOwned<TIdSocksInfo>(this));
    FTransparentProxy = FOwnedProxy.get();
    FImplicitTransparentProxy = true;
  }
  return FTransparentProxy;
}

void TIdIOHandlerSocket::DropTransparentProxy() {
  if (FImplicitTransparentProxy) {
    FTransparentProxy = nullptr;
    FImplicitTransparentProxy = false;
    FOwnedProxy.reset();
  } else if (FTransparentProxy) {
    RemoveFreeNotification(FTransparentProxy);
    FTransparentProxy = nullptr;
  }
}

void TIdIOHandlerSocket::SetTransparentProxy(TIdCustomTransparentProxy* AValue) {
  if (AValue == FTransparentProxy) return;
  if (!AValue) {
    DropTransparentProxy();
    return;
  }
  if (AValue->Owner()) {
    // Someone else owns it: use it by reference.
    DropTransparentProxy();
    FTransparentProxy = AValue;
    FreeNotification(AValue);
    return;
  }
  // No owner: take a copy of its settings into a proxy of its class that this handler owns.
  if (!FImplicitTransparentProxy) DropTransparentProxy();
  if (FImplicitTransparentProxy && FTransparentProxy->ClassName() != AValue->ClassName()) DropTransparentProxy();
  if (!FImplicitTransparentProxy) {
    FOwnedProxy.reset(AValue->CreateOfSameClass(this));
    FTransparentProxy = FOwnedProxy.get();
    FImplicitTransparentProxy = true;
  }
  FTransparentProxy->Assign(AValue);
}

void TIdIOHandlerSocket::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent && AComponent == FTransparentProxy) {
    FTransparentProxy = nullptr;
    // The owned proxy destroyed by someone else: it is gone already, do not free it again.
    if (FImplicitTransparentProxy) {
      FImplicitTransparentProxy = false;
      (void)FOwnedProxy.release();
    }
  }
  TIdIOHandler::Notification(AComponent, AOperation);
}

}  // namespace vyn
