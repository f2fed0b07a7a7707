#include "vynIdAuthentication.h"

namespace vyn {

TIdAuthentication::TIdAuthentication() { FParams.SetCaseSensitive(false); }

}  // namespace vyn
