#include "vynIdTCPClient.h"

#include "vynIdIOHandlerStack.h"
#include "vynIdResourceStrings.h"

namespace vyn {

TIdTCPClientCustom::TIdTCPClientCustom(TComponent* AOwner) : TIdTCPConnection(AOwner) {}

std::unique_ptr<TIdIOHandler> TIdTCPClientCustom::MakeImplicitHandler() {
  std::unique_ptr<TIdIOHandler> handler = TIdIOHandler::MakeDefaultIOHandler();
  if (!handler) handler = std::make_unique<TIdIOHandlerStack>();
  return handler;
}

void TIdTCPClientCustom::CopySettingsToIOHandler() {
  if (!FIOHandler) return;
  if (!FDestination.empty()) FIOHandler->SetDestination(FDestination);
  FIOHandler->SetPort(FPort);
  FIOHandler->SetHost(FHost);
  FIOHandler->SetConnectTimeout(FConnectTimeout);
  FIOHandler->SetReadTimeout(FReadTimeout);
  if (FSocket) {
    FSocket->SetBoundIP(FBoundIP);
    FSocket->SetBoundPort(FBoundPort);
    FSocket->SetBoundPortMin(FBoundPortMin);
    FSocket->SetBoundPortMax(FBoundPortMax);
    FSocket->SetIPVersion(FIPVersion);
    FSocket->SetReuseSocket(FReuseSocket);
    FSocket->SetUseNagle(FUseNagle);
    FSocket->SetLingerState(FLingerState);
    FSocket->OnBeforeBind = OnBeforeBind;
    FSocket->OnAfterBind = OnAfterBind;
    FSocket->OnSocketAllocated = OnSocketAllocated;
  }
}

void TIdTCPClientCustom::AssignIOHandler(TIdIOHandler* AValue, std::unique_ptr<TIdIOHandler> AOwned) {
  const bool changed = AValue != FIOHandler;
  TIdTCPConnection::AssignIOHandler(AValue, std::move(AOwned));
  if (changed) CopySettingsToIOHandler();
}

void TIdTCPClientCustom::Connect() {
  if (Connected()) EIdAlreadyConnected::Toss(RSAlreadyConnected);
  if (FHost.empty()) EIdHostRequired::Toss(RSHostRequired);
  if (FPort == 0) EIdPortRequired::Toss(RSPortRequired);
  if (!FIOHandler) {
    std::unique_ptr<TIdIOHandler> handler = MakeImplicitHandler();
    handler->OnStatus = OnStatus;
    SetIOHandler(std::move(handler));
  }
  try {
    CopySettingsToIOHandler();
    FIOHandler->Open();
    if (TIdConnectionIntercept* intercept = FIOHandler->Intercept()) intercept->Connect(this);
    ReportStatus(hsConnected, {FHost});
    FireConnected();
  } catch (...) {
    if (FIOHandler) {
      try {
        FIOHandler->Close();
      } catch (...) {
        // The connect's own error is the one to report.
      }
      // An implicit handler goes; the next Connect makes a fresh one.
      if (ManagedIOHandler()) SetIOHandler(nullptr);
    }
    throw;
  }
}

void TIdTCPClientCustom::Connect(const String& AHost) {
  SetHost(AHost);
  Connect();
}

void TIdTCPClientCustom::Connect(const String& AHost, uint16_t APort) {
  SetHost(AHost);
  SetPort(APort);
  Connect();
}

String TIdTCPClientCustom::ConnectAndGetAll() {
  Connect();
  String all;
  try {
    all = FIOHandler->AllData();
  } catch (...) {
    Disconnect();
    throw;
  }
  Disconnect();
  return all;
}

void TIdTCPClientCustom::FireConnected() {
  if (OnConnected) OnConnected(this);
}

void TIdTCPClientCustom::SetBoundIP(const String& AValue) {
  FBoundIP = AValue;
  if (FSocket) FSocket->SetBoundIP(AValue);
}

void TIdTCPClientCustom::SetBoundPort(uint16_t AValue) {
  FBoundPort = AValue;
  if (FSocket) FSocket->SetBoundPort(AValue);
}

void TIdTCPClientCustom::SetBoundPortMax(uint16_t AValue) {
  FBoundPortMax = AValue;
  if (FSocket) FSocket->SetBoundPortMax(AValue);
}

void TIdTCPClientCustom::SetBoundPortMin(uint16_t AValue) {
  FBoundPortMin = AValue;
  if (FSocket) FSocket->SetBoundPortMin(AValue);
}

void TIdTCPClientCustom::SetConnectTimeout(int32_t AValue) {
  FConnectTimeout = AValue;
  if (FIOHandler) FIOHandler->SetConnectTimeout(AValue);
}

void TIdTCPClientCustom::SetHost(const String& AValue) {
  FHost = AValue;
  if (FIOHandler) FIOHandler->SetHost(AValue);
}

void TIdTCPClientCustom::SetIPVersion(TIdIPVersion AValue) {
  FIPVersion = AValue;
  if (FSocket) FSocket->SetIPVersion(AValue);
}

void TIdTCPClientCustom::SetPort(uint16_t AValue) {
  FPort = AValue;
  if (FIOHandler) FIOHandler->SetPort(AValue);
}

int32_t TIdTCPClientCustom::ReadTimeout() const { return FIOHandler ? FIOHandler->ReadTimeout() : FReadTimeout; }

void TIdTCPClientCustom::SetReadTimeout(int32_t AValue) {
  FReadTimeout = AValue;
  if (FIOHandler) FIOHandler->SetReadTimeout(AValue);
}

TIdReuseSocket TIdTCPClientCustom::ReuseSocket() const { return FSocket ? FSocket->ReuseSocket() : FReuseSocket; }

void TIdTCPClientCustom::SetReuseSocket(TIdReuseSocket AValue) {
  FReuseSocket = AValue;
  if (FSocket) FSocket->SetReuseSocket(AValue);
}

bool TIdTCPClientCustom::UseNagle() const { return FSocket ? FSocket->UseNagle() : FUseNagle; }

void TIdTCPClientCustom::SetUseNagle(bool AValue) {
  FUseNagle = AValue;
  if (FSocket) FSocket->SetUseNagle(AValue);
}

void TIdTCPClientCustom::SetLingerState(int32_t AValue) {
  FLingerState = AValue;
  if (FSocket) FSocket->SetLingerState(AValue);
}

}  // namespace vyn
