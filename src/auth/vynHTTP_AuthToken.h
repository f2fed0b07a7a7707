// The base of the bearer-token sources: an operation that starts obtaining a token and
// the two events through which the source reports, at once or later from another
// thread.
#pragma once

#include <functional>

#include "vynClasses.h"

namespace vyn {

using TvynOnAuthToken =
    std::function<void(TObject* Sender, const String& TokenType, const String& Token, const String& Data)>;
using TvynOnAuthTokenError =
    std::function<void(TObject* Sender, const String& Error, const String& ErrorDescription, const String& Data)>;

class TvynHTTPComponentClientAuthToken_Base : public TComponent {
public:
  using TComponent::TComponent;

  // Starts obtaining a token; the result arrives through OnAuthToken or OnAuthTokenError.
  virtual void Start() = 0;

  TvynOnAuthTokenError OnAuthTokenError;
  TvynOnAuthToken OnAuthToken;

protected:
  virtual void FireAuthToken(const String& TokenType, const String& Token, const String& Data) {
    if (OnAuthToken) OnAuthToken(this, TokenType, Token, Data);
  }
  virtual void FireAuthTokenError(const String& Error, const String& ErrorDescription, const String& Data) {
    if (OnAuthTokenError) OnAuthTokenError(this, Error, ErrorDescription, Data);
  }
};

}  // namespace vyn
