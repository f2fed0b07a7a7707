#include "vynIdTCPConnection.h"

#include <algorithm>

#include "vynIdResourceStrings.h"

namespace vyn {

TIdTCPConnection::TIdTCPConnection(TComponent* AOwner)
    : TIdComponent(AOwner), FGreeting(std::make_unique<TIdReplyRFC>()),
      FLastCmdResult(std::make_unique<TIdReplyRFC>()) {}

TIdTCPConnection::~TIdTCPConnection() {
  if (FIOHandler) {
    try {
      FIOHandler->Close();
    } catch (...) {
    }
  }
  AssignIOHandler(nullptr, nullptr);
  if (FIntercept) RemoveFreeNotification(FIntercept);
  FIntercept = nullptr;
}

void TIdTCPConnection::AssignIOHandler(TIdIOHandler* AValue, std::unique_ptr<TIdIOHandler> AOwned) {
  if (AValue == FIOHandler) {
    // Handing over the handler already in use makes it managed.
    if (AOwned) FManagedIOHandler = std::move(AOwned);
    return;
  }
  if (AValue && FIntercept && AValue->Intercept() && AValue->Intercept() != FIntercept)
    EIdException::Toss(RSInterceptIsDifferent);
  TIdIOHandler* old = FIOHandler;
  std::unique_ptr<TIdIOHandler> oldOwned = std::move(FManagedIOHandler);
  FIOHandler = nullptr;
  FSocket = nullptr;
  if (old) {
    old->SetWorkTarget(nullptr);
    RemoveFreeNotification(old);
  }
  oldOwned.reset();
  if (AValue) {
    FreeNotification(AValue);
    AValue->SetWorkTarget(this);  // the handler's work events surface on the connection
    if (FIntercept) AValue->SetIntercept(FIntercept);
  }
  FIOHandler = AValue;
  FManagedIOHandler = std::move(AOwned);
  FSocket = dynamic_cast<TIdIOHandlerSocket*>(AValue);
}

void TIdTCPConnection::CreateIOHandler(const TIdIOHandlerClass& ABaseType) {
  if (Connected()) EIdException::Toss(RSIOHandlerCannotChange);
  std::unique_ptr<TIdIOHandler> handler =
      ABaseType.Assigned() ? TIdIOHandler::MakeIOHandler(ABaseType) : TIdIOHandler::MakeDefaultIOHandler();
  if (!handler) EIdException::Toss(FormatInvariant(RSIOHandlerTypeNotInstalled, {String(u"TIdIOHandler")}));
  SetIOHandler(std::move(handler));
}

TIdConnectionIntercept* TIdTCPConnection::Intercept() const {
  return FIOHandler ? FIOHandler->Intercept() : FIntercept;
}

void TIdTCPConnection::SetIntercept(TIdConnectionIntercept* AValue) {
  // An intercept the handler got from elsewhere is not replaced behind its owner's back;
  // the connection's own may be replaced or removed.
  if (FIOHandler && AValue && FIOHandler->Intercept() && FIOHandler->Intercept() != AValue &&
      FIOHandler->Intercept() != FIntercept)
    EIdException::Toss(RSInterceptIsDifferent);
  if (FIntercept != AValue) {
    if (FIntercept) RemoveFreeNotification(FIntercept);
    FIntercept = AValue;
    if (FIntercept) FreeNotification(FIntercept);
  }
  if (FIOHandler) FIOHandler->SetIntercept(AValue);
}

void TIdTCPConnection::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent) {
    if (AComponent == FIntercept) FIntercept = nullptr;
    if (AComponent == FIOHandler) {
      FIOHandler = nullptr;
      FSocket = nullptr;
      // Destroyed by someone else while managed: it is gone already.
      if (FManagedIOHandler.get() == AComponent) (void)FManagedIOHandler.release();
    }
  }
  TIdComponent::Notification(AComponent, AOperation);
}

bool TIdTCPConnection::Connected() { return FIOHandler && FIOHandler->Connected(); }

void TIdTCPConnection::Disconnect(bool ANotifyPeer) {
  if (ANotifyPeer) {
    try {
      if (Connected()) DisconnectNotifyPeer();
    } catch (...) {
      // A goodbye that fails must not keep the connection open.
    }
  }
  if (FIOHandler && FIOHandler->Opened()) {
    ReportStatus(hsDisconnecting);
    FIOHandler->Close();
    HandleDisconnected();
    ReportStatus(hsDisconnected);
  }
}

void TIdTCPConnection::HandleDisconnected() {
  if (OnDisconnected) OnDisconnected(this);
}

void TIdTCPConnection::CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected) {
  if (FIOHandler)
    FIOHandler->CheckForDisconnect(ARaiseExceptionIfDisconnected, false);
  else if (ARaiseExceptionIfDisconnected)
    EIdException::Toss(RSNotConnected);
}

TIdIOHandler* TIdTCPConnection::RequireIOHandler() const {
  if (!FIOHandler) EIdNotConnected::Toss(RSNotConnected);
  return FIOHandler;
}

int16_t TIdTCPConnection::SendCmd(String AOut, std::initializer_list<int16_t> AResponse,
                                  const IIdTextEncoding& AEncoding) {
  TIdIOHandler* handler = RequireIOHandler();
  PrepareCommand(AOut);
  handler->WriteLn(AOut, AEncoding);
  return GetResponse(AResponse, AEncoding);
}

int16_t TIdTCPConnection::SendCmd(const String& AOut, int16_t AResponse, const IIdTextEncoding& AEncoding) {
  if (AResponse < 0) return SendCmd(AOut, std::initializer_list<int16_t>{}, AEncoding);
  return SendCmd(AOut, {AResponse}, AEncoding);
}

void TIdTCPConnection::GetInternalResponse(const IIdTextEncoding& AEncoding) {
  TIdIOHandler* handler = RequireIOHandler();
  TStringList lines;
  String line;
  do {
    line = handler->ReadLnWait(2147483647, AEncoding);
    lines.Add(line);
  } while (!FLastCmdResult->IsEndMarker(line));
  FLastCmdResult->SetFormattedReply(lines);
}

int16_t TIdTCPConnection::GetResponse(std::initializer_list<int16_t> AAllowedResponses,
                                      const IIdTextEncoding& AEncoding) {
  GetInternalResponse(AEncoding);
  return CheckResponse(static_cast<int16_t>(FLastCmdResult->NumericCode()), AAllowedResponses);
}

int16_t TIdTCPConnection::GetResponse(int16_t AAllowedResponse, const IIdTextEncoding& AEncoding) {
  if (AAllowedResponse < 0) return GetResponse(std::initializer_list<int16_t>{}, AEncoding);
  return GetResponse({AAllowedResponse}, AEncoding);
}

String TIdTCPConnection::GetResponse(std::initializer_list<String> AAllowedResponses,
                                     const IIdTextEncoding& AEncoding) {
  GetInternalResponse(AEncoding);
  return CheckResponse(FLastCmdResult->Code(), AAllowedResponses);
}

int16_t TIdTCPConnection::CheckResponse(int16_t AResponse, std::initializer_list<int16_t> AAllowedResponses) {
  if (AAllowedResponses.size() > 0 &&
      std::find(AAllowedResponses.begin(), AAllowedResponses.end(), AResponse) == AAllowedResponses.end() &&
      std::find(AAllowedResponses.begin(), AAllowedResponses.end(), int16_t(-1)) == AAllowedResponses.end())
    RaiseExceptionForLastCmdResult();
  return AResponse;
}

String TIdTCPConnection::CheckResponse(const String& AResponse, std::initializer_list<String> AAllowedResponses) {
  if (AAllowedResponses.size() > 0 &&
      std::find(AAllowedResponses.begin(), AAllowedResponses.end(), AResponse) == AAllowedResponses.end())
    RaiseExceptionForLastCmdResult();
  return AResponse;
}

void TIdTCPConnection::RaiseExceptionForLastCmdResult() {
  FLastCmdResult->RaiseReplyError();
  EIdReplyError::Toss(FLastCmdResult->Text().Text());  // not reached
}

void TIdTCPConnection::WriteHeader(const TStrings& AHeader) {
  TIdIOHandler* handler = RequireIOHandler();
  handler->WriteBufferOpen();
  try {
    for (int i = 0; i < AHeader.Count(); ++i) {
      String entry = AHeader.Get(i);
      const auto eq = entry.find(u'=');
      if (eq != String::npos) entry.replace(eq, 1, u": ");
      handler->WriteLn(entry);
    }
    handler->WriteLn();
  } catch (...) {
    handler->WriteBufferCancel();
    throw;
  }
  handler->WriteBufferClose();
}

void TIdTCPConnection::WriteRFCStrings(const TStrings& AStrings) { RequireIOHandler()->WriteRFCStrings(AStrings, true); }

}  // namespace vyn
