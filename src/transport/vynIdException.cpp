#include "vynIdException.h"

#include <cstring>

namespace vyn {

EIdWinsockStubError EIdWinsockStubError::Build(uint32_t AWin32Error, const String& ATitle,
                                               std::initializer_list<TVarRec> AArgs) {
  EIdWinsockStubError e;
  e.FTitle = Format(ATitle, AArgs);
  e.FWin32Error = AWin32Error;
  if (AWin32Error != 0) {
    e.FWin32ErrorMessage = FromUtf8(std::strerror(static_cast<int>(AWin32Error)));
    e.SetMessage(e.FTitle + u": " + e.FWin32ErrorMessage);
  } else {
    e.SetMessage(e.FTitle);
  }
  return e;
}

}  // namespace vyn
