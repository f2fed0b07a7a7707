// Option records of the TCP layer. They add nothing to the socket records; they
// are the classes that the HTTP records accept as full copies.
#pragma once

#include "vynSocket_Classes.h"

namespace vyn {

class TvynTCPTLS_Options : public TvynSocketTLS_Options {};

class TvynTCPProxy_Options : public TvynSocketProxy_Options {};

}  // namespace vyn
