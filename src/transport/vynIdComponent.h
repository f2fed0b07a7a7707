// The component bases every networking component derives from: construction hook,
// status reports and work (progress) events, and the reference on the process-wide
// socket stack that every TIdComponent holds for its whole life.
//
// Construction: a class sets its defaults in its own constructor. C++ runs the base
// constructors first, which gives the order the components rely on (the inherited
// defaults are in place before a descendant changes or adds its own); there is no
// separate virtual setup hook, because a virtual called from a base constructor would
// not reach the descendant anyway.
#pragma once

#include <functional>
#include <initializer_list>

#include "vynClasses.h"

namespace vyn {

enum TIdStatus {
  hsResolving,
  hsConnecting,
  hsConnected,
  hsDisconnecting,
  hsDisconnected,
  hsStatusText,
  ftpTransfer,
  ftpReady,
  ftpAborted
};

// The format text a status is reported with ("Resolving hostname %s." ...).
const char16_t* IdStatusText(TIdStatus AStatus);

enum TWorkMode { wmRead, wmWrite };

using TNotifyEvent = std::function<void(TObject* ASender)>;

using TIdStatusEvent = std::function<void(TObject* ASender, TIdStatus AStatus, const String& AStatusText)>;
using TWorkEvent = std::function<void(TObject* ASender, TWorkMode AWorkMode, int64_t AWorkCount)>;
using TWorkBeginEvent = std::function<void(TObject* ASender, TWorkMode AWorkMode, int64_t AWorkCountMax)>;
using TWorkEndEvent = std::function<void(TObject* ASender, TWorkMode AWorkMode)>;

class TIdInitializerComponent : public TComponent {
public:
  explicit TIdInitializerComponent(TComponent* AOwner = nullptr) : TComponent(AOwner) {}
};

class TIdBaseComponent : public TIdInitializerComponent {
public:
  using TIdInitializerComponent::TIdInitializerComponent;
};

class TIdComponent : public TIdBaseComponent {
public:
  // Takes a reference on the socket stack (creating it on first use).
  explicit TIdComponent(TComponent* AOwner = nullptr);
  ~TIdComponent() override;

  // Work progress. Begin/End nest per mode: only the outermost pair fires
  // OnWorkBegin/OnWorkEnd, and DoWork reports only inside a pair. With a WorkTarget
  // set, all three are forwarded to it instead.
  virtual void BeginWork(TWorkMode AWorkMode, int64_t ASize = 0);
  virtual void DoWork(TWorkMode AWorkMode, int64_t ACount);
  virtual void EndWork(TWorkMode AWorkMode);

  // Fires OnStatus (when set) with the status's text formatted with AArgs.
  void ReportStatus(TIdStatus AStatus, std::initializer_list<TVarRec> AArgs = {});

  // Not owned; forgotten when the target is destroyed.
  TIdComponent* WorkTarget() const { return FWorkTarget; }
  void SetWorkTarget(TIdComponent* AValue);

  // Progress of a mode as this component counts it (not forwarded values).
  int64_t WorkCount(TWorkMode AWorkMode) const { return FWorkInfos[AWorkMode].Current; }
  int64_t WorkCountMax(TWorkMode AWorkMode) const { return FWorkInfos[AWorkMode].Max; }
  int32_t WorkLevel(TWorkMode AWorkMode) const { return FWorkInfos[AWorkMode].Level; }

  TIdStatusEvent OnStatus;
  TWorkEvent OnWork;
  TWorkBeginEvent OnWorkBegin;
  TWorkEndEvent OnWorkEnd;

protected:
  void Notification(TComponent* AComponent, TOperation AOperation) override;

private:
  struct TWorkInfo {
    int64_t Current = 0;
    int64_t Max = 0;
    int32_t Level = 0;
  };
  TWorkInfo FWorkInfos[2];
  TIdComponent* FWorkTarget = nullptr;
};

}  // namespace vyn
