// The proxy record of the HTTP client component.
#pragma once

#include "vynTCP_Classes.h"

namespace vyn {

class TvynHTTPProxy_Options : public TvynTCPProxy_Options {};

}  // namespace vyn
