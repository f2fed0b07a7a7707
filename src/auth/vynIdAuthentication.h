// The base of the authentication schemes: what the header records need of one.
#pragma once

#include "vynIdHeaderList.h"

namespace vyn {

// One authentication scheme's state for one request (or one proxy). The header
// records own the object they are given and ask it for the header value each time
// they build their raw headers.
class TIdAuthentication : public TPersistent {
public:
  TIdAuthentication();

  // Named values of this authentication: "Username", "Password", "Authorization".
  TIdHeaderList& Params() { return FParams; }
  const TIdHeaderList& Params() const { return FParams; }
  String Username() const { return FParams.GetValue(u"Username"); }
  virtual void SetUsername(const String& AValue) { FParams.SetValue(u"Username", AValue); }
  String Password() const { return FParams.GetValue(u"Password"); }
  virtual void SetPassword(const String& AValue) { FParams.SetValue(u"Password", AValue); }

  // The complete header value for the current step (scheme word, a blank and the
  // credentials), or empty when no header is to be sent.
  virtual String Authentication() = 0;

private:
  TIdHeaderList FParams{QuoteHTTP};
};

}  // namespace vyn
