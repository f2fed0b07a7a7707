#include "vynIdSSL.h"

#include <mutex>

namespace vyn {

// Defined by the OpenSSL handler's unit. Referring to it here links that unit, and so
// its registration with the handler class registry, into every program that uses a
// TLS handler, also one that only asks the registry for a TLS handler.
bool OpenSSLIOHandlerRegistered();

TIdSSLIOHandlerSocketBase::TIdSSLIOHandlerSocketBase(TComponent* AOwner) : TIdIOHandlerStack(AOwner) {
  static const bool linked = OpenSSLIOHandlerRegistered();
  (void)linked;
}

int TIdSSLIOHandlerSocketBase::ReadDataFromSource(TIdBytesSpan VBuffer) {
  return fPassThrough ? TIdIOHandlerStack::ReadDataFromSource(VBuffer) : RecvEncrypted(VBuffer);
}

int TIdSSLIOHandlerSocketBase::WriteDataToTarget(const TIdBytes& ABuffer, int AOffset, int ALength) {
  return fPassThrough ? TIdIOHandlerStack::WriteDataToTarget(ABuffer, AOffset, ALength)
                      : SendEncrypted(ABuffer, AOffset, ALength);
}

namespace {
struct TSSLRegistryState {
  std::mutex Lock;
  std::vector<TIdSSLRegEntry> Entries;
};
TSSLRegistryState& SSLRegistry() {
  static TSSLRegistryState state;
  return state;
}
}  // namespace

void TIdSSLRegistry::Add(const TIdSSLRegEntry& AEntry) {
  auto& r = SSLRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  r.Entries.push_back(AEntry);
}

std::vector<TIdSSLRegEntry> TIdSSLRegistry::Entries() {
  auto& r = SSLRegistry();
  std::lock_guard<std::mutex> guard(r.Lock);
  return r.Entries;
}

}  // namespace vyn
