#include "vynDynLibs.h"

#include <dlfcn.h>

namespace vyn {

namespace {
thread_local std::string tLastError;

void Remember() {
  const char* e = dlerror();
  tLastError = e ? e : "";
}
}  // namespace

TLibHandle LoadDynLibrary(const String& AFileName) {
  dlerror();
  TLibHandle h = dlopen(ToUtf8(AFileName).c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!h) Remember();
  return h;
}

void* GetDynProc(TLibHandle ALib, const char* AName) {
  if (!ALib) return nullptr;
  dlerror();
  void* p = dlsym(ALib, AName);
  if (!p) Remember();
  return p;
}

void FreeDynLibrary(TLibHandle ALib) {
  if (ALib) dlclose(ALib);
}

String DynLibError() { return FromUtf8(tLastError); }

}  // namespace vyn
