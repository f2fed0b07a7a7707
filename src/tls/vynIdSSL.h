// The base of the TLS I/O handlers: a socket handler that reads and writes either the
// plain socket (pass-through) or the encrypted session a subclass provides.
#pragma once

#include <memory>
#include <vector>

#include "vynIdIOHandlerStack.h"

namespace vyn {

class TIdSSLIOHandlerSocketBase : public TIdIOHandlerStack {
public:
  // Starts in pass-through: the handler is a plain socket handler until a subclass
  // switches TLS on.
  explicit TIdSSLIOHandlerSocketBase(TComponent* AOwner = nullptr);

  bool PassThrough() const { return fPassThrough; }
  virtual void SetPassThrough(bool Value) { fPassThrough = Value; }
  // This end accepted the connection (the server role).
  bool IsPeer() const { return fIsPeer; }
  void SetIsPeer(bool Value) { fIsPeer = Value; }
  // The URL whose host the session is for (SNI and the host check).
  const String& URIToCheck() const { return FURIToCheck; }
  virtual void SetURIToCheck(const String& Value) { FURIToCheck = Value; }

  // Receives decrypted bytes into VBuffer; the count, 0 at the peer's close.
  virtual int RecvEncrypted(TIdBytesSpan VBuffer) = 0;
  // Sends ALength bytes of ABuffer from AOffset through the session; the count taken.
  virtual int SendEncrypted(const TIdBytes& ABuffer, int AOffset, int ALength) = 0;
  // A new handler of the same class with the same settings, not connected.
  virtual std::unique_ptr<TIdSSLIOHandlerSocketBase> Clone() = 0;
  // Starts the TLS session on the open connection.
  virtual void StartSSL() = 0;

  int ReadDataFromSource(TIdBytesSpan VBuffer) override;
  int WriteDataToTarget(const TIdBytes& ABuffer, int AOffset, int ALength) override;

private:
  bool fPassThrough = true;
  bool fIsPeer = false;
  String FURIToCheck;
};

// One TLS implementation as the TLS registry lists it: what it is and its handler
// classes. The texts are informational only.
struct TIdSSLRegEntry {
  String ProductName;
  String Vendor;
  String LegalNotice;
  String Description;
  String URL;
  TIdIOHandlerClass ClientHandler;
  TIdIOHandlerClass ServerHandler;
};

// The TLS implementations linked into the program (process-wide).
class TIdSSLRegistry {
public:
  static void Add(const TIdSSLRegEntry& AEntry);
  static std::vector<TIdSSLRegEntry> Entries();
};

}  // namespace vyn
