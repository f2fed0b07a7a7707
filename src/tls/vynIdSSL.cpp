#include "vynIdSSL.h"

namespace vyn {

TIdSSLIOHandlerSocketBase::TIdSSLIOHandlerSocketBase(TComponent* AOwner) : TIdIOHandlerStack(AOwner) {}

int TIdSSLIOHandlerSocketBase::ReadDataFromSource(TIdBytes& VBuffer) {
  return fPassThrough ? TIdIOHandlerStack::ReadDataFromSource(VBuffer) : RecvEncrypted(VBuffer);
}

int TIdSSLIOHandlerSocketBase::WriteDataToTarget(const TIdBytes& ABuffer, int AOffset, int ALength) {
  return fPassThrough ? TIdIOHandlerStack::WriteDataToTarget(ABuffer, AOffset, ALength)
                      : SendEncrypted(ABuffer, AOffset, ALength);
}

}  // namespace vyn
