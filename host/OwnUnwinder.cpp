#include "host/OwnUnwinder.h"

#if defined(__i386__) && !defined(__SEH__) && !defined(__USING_SJLJ_EXCEPTIONS__)

extern "C" {
// The statically linked unwinder's registry (libgcc's unwind-dw2-fde).
struct dwarf_eh_bases {
    void* tbase;
    void* dbase;
    void* func;
};
void __register_frame_info(const void* begin, void* object);
const void* _Unwind_Find_FDE(void* pc, dwarf_eh_bases* bases);
// The offset of this image's .eh_frame section from its base, set by the
// linker (--defsym): the start-up code keeps its own pointer to the section
// private.
extern const char qv_eh_frame_rva[];
}

namespace qv {
namespace {

// The unwinder's bookkeeping for one set of tables (libgcc's struct object,
// seven words in this compiler; room to spare). It must live as long as the
// library. It is never deregistered: the registry it is linked into is our
// own and goes with the library.
alignas(void*) void* TablesObject[16] = {};

// The section's start, checked against the image's own section table so that
// a wrong offset can never hand the unwinder garbage.
const void* EhFrameStart(HINSTANCE library) {
    const auto base = reinterpret_cast<const unsigned char*>(library);
    const auto rva = static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(qv_eh_frame_rva));
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (base == nullptr || dos->e_magic != IMAGE_DOS_SIGNATURE)
        return nullptr;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE)
        return nullptr;
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
        if (section->VirtualAddress == rva && section->Misc.VirtualSize >= 4)
            return base + rva;
    return nullptr;
}

} // namespace

bool OwnUnwinderKnows(const void* code) noexcept {
    dwarf_eh_bases bases{};
    return _Unwind_Find_FDE(const_cast<void*>(code), &bases) != nullptr;
}

void TakeOwnUnwindTables(HINSTANCE library) noexcept {
    // Any function of ours will do: all our tables are registered as one.
    const void* const probe = reinterpret_cast<const void*>(&TakeOwnUnwindTables);
    if (OwnUnwinderKnows(probe))
        return;
    if (const void* const begin = EhFrameStart(library))
        __register_frame_info(begin, TablesObject);
}

} // namespace qv

#else

namespace qv {

bool OwnUnwinderKnows(const void*) noexcept {
    return true;
}
void TakeOwnUnwindTables(HINSTANCE) noexcept {}

} // namespace qv

#endif
