#include "ui/FormWindow.h"

#include "engine/Custahwnd.h"

namespace qv {

HINSTANCE OwnInstance() {
    return CodeModuleInstance();
}

const char* RegisterFormClass(const char* className, WNDPROC procedure) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(OwnInstance(), className, &existing))
        return className;
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = OwnInstance();
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = className;
    RegisterClassExA(&windowClass);
    return className;
}

} // namespace qv
