// A component that owns or references an I/O handler and an intercept, and offers the
// connection state, disconnect, and a command layer for line protocols.
#pragma once

#include <initializer_list>
#include <memory>

#include "vynIdComponent.h"
#include "vynIdIOHandler.h"
#include "vynIdIOHandlerSocket.h"
#include "vynIdIntercept.h"
#include "vynIdReplyRFC.h"

namespace vyn {

class TIdTCPConnection : public TIdComponent {
public:
  explicit TIdTCPConnection(TComponent* AOwner = nullptr);
  // Closes the handler and lets it go (freeing it when managed).
  ~TIdTCPConnection() override;

  TIdIOHandler* IOHandler() const { return FIOHandler; }
  // A handler the connection uses but does not own (forgotten when destroyed).
  void SetIOHandler(TIdIOHandler* AValue) { AssignIOHandler(AValue, nullptr); }
  // A handler the connection takes over and frees: a managed handler.
  void SetIOHandler(std::unique_ptr<TIdIOHandler> AValue) {
    TIdIOHandler* handler = AValue.get();
    AssignIOHandler(handler, std::move(AValue));
  }
  bool ManagedIOHandler() const { return FManagedIOHandler != nullptr; }
  // The handler when it is a socket handler, else none.
  TIdIOHandlerSocket* Socket() const { return FSocket; }
  // A managed handler of the registered class for ABaseType (the default class when
  // none is given). EIdException "Cannot change a connected IOHandler." when connected.
  void CreateIOHandler(const TIdIOHandlerClass& ABaseType = TIdIOHandlerClass());

  // The handler's intercept when there is a handler, else the connection's own.
  virtual TIdConnectionIntercept* Intercept() const;
  // EIdException "The IOHandler already has a different Intercept assigned" when the
  // handler carries an intercept that the connection did not give it.
  virtual void SetIntercept(TIdConnectionIntercept* AValue);

  virtual bool Connected();
  void Disconnect() { Disconnect(true); }
  virtual void Disconnect(bool ANotifyPeer);
  // The handler's CheckForDisconnect; without a handler EIdException "Not Connected".
  virtual void CheckForGracefulDisconnect(bool ARaiseExceptionIfDisconnected = true);

  // ---- Command layer ----------------------------------------------------------------------
  // Writes AOut as a line and reads the reply; a code outside AResponse (empty: any)
  // raises the reply's error. EIdNotConnected "Not Connected" without a handler.
  virtual int16_t SendCmd(String AOut, std::initializer_list<int16_t> AResponse,
                          const IIdTextEncoding& AEncoding = nullptr);
  int16_t SendCmd(const String& AOut, int16_t AResponse = -1, const IIdTextEncoding& AEncoding = nullptr);
  virtual void GetInternalResponse(const IIdTextEncoding& AEncoding = nullptr);
  virtual int16_t GetResponse(std::initializer_list<int16_t> AAllowedResponses,
                              const IIdTextEncoding& AEncoding = nullptr);
  int16_t GetResponse(int16_t AAllowedResponse = -1, const IIdTextEncoding& AEncoding = nullptr);
  virtual String GetResponse(std::initializer_list<String> AAllowedResponses,
                             const IIdTextEncoding& AEncoding = nullptr);
  virtual int16_t CheckResponse(int16_t AResponse, std::initializer_list<int16_t> AAllowedResponses);
  virtual String CheckResponse(const String& AResponse, std::initializer_list<String> AAllowedResponses);
  [[noreturn]] virtual void RaiseExceptionForLastCmdResult();
  // Each entry with its "=" written as ": ", then an empty line, in one piece.
  void WriteHeader(const TStrings& AHeader);
  // Dot-stuffed lines and the "." terminator.
  void WriteRFCStrings(const TStrings& AStrings);

  TIdReply& LastCmdResult() { return *FLastCmdResult; }
  TIdReply& Greeting() { return *FGreeting; }

  TNotifyEvent OnDisconnected;

protected:
  virtual void AssignIOHandler(TIdIOHandler* AValue, std::unique_ptr<TIdIOHandler> AOwned);
  // The OnDisconnected event.
  virtual void HandleDisconnected();
  // A goodbye to the peer before a disconnect; nothing here.
  virtual void DisconnectNotifyPeer() {}
  virtual void PrepareCommand(String&) {}
  void Notification(TComponent* AComponent, TOperation AOperation) override;
  TIdIOHandler* RequireIOHandler() const;

  std::unique_ptr<TIdReply> FGreeting;
  std::unique_ptr<TIdReply> FLastCmdResult;
  TIdConnectionIntercept* FIntercept = nullptr;
  TIdIOHandler* FIOHandler = nullptr;
  std::unique_ptr<TIdIOHandler> FManagedIOHandler;  // the same object as FIOHandler when managed
  TIdIOHandlerSocket* FSocket = nullptr;
};

}  // namespace vyn
