// Makes the i686 library's own C++ unwinder know the library's unwind tables.
//
// Why. Each DLL carries its own copy of the compiler's runtime
// (-static-libgcc), and the i686 compiler unwinds with DWARF-2 tables that the
// unwinder must be told about. The runtime's start-up code tells the unwinder
// of the compiler's shared runtime, libgcc_s_dw2-1.dll, instead of ours when
// that DLL is already in the process (another plug-in may have brought it).
// Our own throw then finds no handler in any of our frames and ends in
// std::terminate: the player dies at the first exception we throw, even one
// we catch two frames up. Registering the same tables with our own unwinder
// as well, when it does not know them, makes every throw of ours find its
// catch whichever runtime was there first. The x86_64 build unwinds with the
// system's SEH tables and needs none of this.
#pragma once

#include <windows.h>

namespace qv {

// Called first in the library's process attach, after the runtime's start-up
// code has registered the tables somewhere. Never throws.
void TakeOwnUnwindTables(HINSTANCE library) noexcept;

// Whether our own unwinder finds the frame of the code at this address; true
// always where unwinding needs no registration (x86_64). For tests.
bool OwnUnwinderKnows(const void* code) noexcept;

} // namespace qv
