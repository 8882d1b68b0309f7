// Window-class registration for the library's own top-level windows: classes
// are registered with the library's instance, never the host's.
#pragma once

#include <windows.h>

namespace qv {

HINSTANCE OwnInstance();
// Registers (once) a class with the given procedure; returns its name.
const char* RegisterFormClass(const char* className, WNDPROC procedure);

} // namespace qv
