// Connection intercepts: objects attached to an I/O handler that are told when the
// connection is made and closed, and see (and may change) every block the handler
// receives from its transport and every block it is about to send. Intercepts chain
// through Intercept; the head of a chain is the end nearest the application, so
// outgoing bytes pass head to tail and incoming bytes tail to head.
#pragma once

#include <functional>

#include "vynIdComponent.h"
#include "vynIdGlobal.h"

namespace vyn {

class TIdConnectionIntercept;
using TIdInterceptNotifyEvent = std::function<void(TIdConnectionIntercept* ASender)>;
using TIdInterceptStreamEvent = std::function<void(TIdConnectionIntercept* ASender, TIdBytes& ABuffer)>;

class TIdConnectionIntercept : public TIdBaseComponent {
public:
  explicit TIdConnectionIntercept(TComponent* AOwner = nullptr);
  ~TIdConnectionIntercept() override;

  // Called by the TCP client once the connection (and any proxy handshake) is made.
  virtual void Connect(TComponent* AConnection);
  // Called by the I/O handler's Close, every time it runs.
  virtual void Disconnect();
  // A block one read from the transport delivered, before it is buffered.
  virtual void Receive(TIdBytes& VBuffer);
  // A copy of a block about to be written to the transport.
  virtual void Send(TIdBytes& VBuffer);

  // The connection given to the last Connect; none after Disconnect. Not owned.
  TComponent* Connection() const { return FConnection; }
  // The next intercept of the chain; not owned, forgotten when destroyed. A link that
  // would close a circle raises EIdInterceptCircularLink.
  TIdConnectionIntercept* Intercept() const { return FIntercept; }
  void SetIntercept(TIdConnectionIntercept* AValue);
  bool IsClient() const { return FIsClient; }
  // For the application's use; not owned.
  TObject* Data() const { return FData; }
  void SetData(TObject* AValue) { FData = AValue; }

  TIdInterceptNotifyEvent OnConnect;
  TIdInterceptNotifyEvent OnDisconnect;
  TIdInterceptStreamEvent OnReceive;
  TIdInterceptStreamEvent OnSend;

protected:
  void Notification(TComponent* AComponent, TOperation AOperation) override;

private:
  TComponent* FConnection = nullptr;
  TIdConnectionIntercept* FIntercept = nullptr;
  bool FIsClient = true;
  TObject* FData = nullptr;
};

}  // namespace vyn
