// Run-time library loading (the platform's dlopen family).
#pragma once

#include "vynSystem.h"

namespace vyn {

using TLibHandle = void*;

// Loads a shared library by file name or path; nullptr when it cannot be loaded
// (the reason is in DynLibError). Symbols are resolved at once and kept local.
TLibHandle LoadDynLibrary(const String& AFileName);
void* GetDynProc(TLibHandle ALib, const char* AName);  // nullptr when missing
void FreeDynLibrary(TLibHandle ALib);
// The loader's text for the last failure of this thread, empty when none.
String DynLibError();

}  // namespace vyn
