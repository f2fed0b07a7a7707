// The HTTP client component as applications place it: TvynIdHTTP with its settings
// published.
#pragma once

#include "vynHTTP_Client.h"

namespace vyn {

class TvynHTTP1Client : public TvynIdHTTP {
public:
  using TvynIdHTTP::TvynIdHTTP;
};

}  // namespace vyn
