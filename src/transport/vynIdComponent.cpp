#include "vynIdComponent.h"

#include "vynIdGlobal.h"
#include "vynIdStack.h"

namespace vyn {

const char16_t* IdStatusText(TIdStatus AStatus) {
  switch (AStatus) {
    case hsResolving: return u"Resolving hostname %s.";
    case hsConnecting: return u"Connecting to %s.";
    case hsConnected: return u"Connected.";
    case hsDisconnecting: return u"Disconnecting.";
    case hsDisconnected: return u"Disconnected.";
    case hsStatusText:
    case ftpTransfer:
    case ftpReady:
    case ftpAborted: break;
  }
  return u"%s";
}

TIdComponent::TIdComponent(TComponent* AOwner) : TIdBaseComponent(AOwner) { TIdStack::IncUsage(); }

TIdComponent::~TIdComponent() { TIdStack::DecUsage(); }

void TIdComponent::BeginWork(TWorkMode AWorkMode, int64_t ASize) {
  if (FWorkTarget) {
    FWorkTarget->BeginWork(AWorkMode, ASize);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  ++info.Level;
  if (info.Level == 1) {
    info.Max = ASize;
    info.Current = 0;
    if (OnWorkBegin) OnWorkBegin(this, AWorkMode, ASize);
  }
}

void TIdComponent::DoWork(TWorkMode AWorkMode, int64_t ACount) {
  if (FWorkTarget) {
    FWorkTarget->DoWork(AWorkMode, ACount);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  if (info.Level >= 1) {
    info.Current += ACount;
    if (OnWork) OnWork(this, AWorkMode, info.Current);
  }
}

void TIdComponent::EndWork(TWorkMode AWorkMode) {
  if (FWorkTarget) {
    FWorkTarget->EndWork(AWorkMode);
    return;
  }
  TWorkInfo& info = FWorkInfos[AWorkMode];
  if (info.Level == 1 && OnWorkEnd) OnWorkEnd(this, AWorkMode);
  // An unbalanced End must not drive the level negative, or the next Begin would
  // never fire OnWorkBegin again.
  if (info.Level > 0) --info.Level;
}

void TIdComponent::ReportStatus(TIdStatus AStatus, std::initializer_list<TVarRec> AArgs) {
  if (!OnStatus) return;
  const char16_t* format = IdStatusText(AStatus);
  // The texts without a placeholder ignore arguments; "%s" without one shows nothing.
  String text;
  if (String(format).find(u'%') == String::npos)
    text = format;
  else if (AArgs.size() == 0)
    text = FormatInvariant(format, {String()});
  else
    text = FormatInvariant(format, AArgs);
  OnStatus(this, AStatus, text);
}

void TIdComponent::SetWorkTarget(TIdComponent* AValue) {
  // The old target's free notification stays: the pair of components may still need it
  // for another link between them (a connection and its I/O handler share one), and a
  // notification about a component that is no longer the target is ignored.
  FWorkTarget = AValue;
  if (FWorkTarget) FreeNotification(FWorkTarget);
}

void TIdComponent::Notification(TComponent* AComponent, TOperation AOperation) {
  if (AOperation == opRemove && AComponent == FWorkTarget) FWorkTarget = nullptr;
  TIdBaseComponent::Notification(AComponent, AOperation);
}

}  // namespace vyn
