#include "platform/com_libraries.h"

#include "platform/system_libraries.h"

namespace {

template <typename Function>
bool Resolve(HMODULE module, const char* name, Function* function) {
    *function = module ? reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name))) : nullptr;
    return *function != nullptr;
}

ComApi g_com;
AccessibilityApi g_accessibility;
int g_comState, g_accessibilityState;  // 0 not tried yet, 1 loaded, -1 not to be had

bool LoadCom() {
    HMODULE ole32 = LoadSystemLibrary("ole32.dll"), oleaut32 = LoadSystemLibrary("oleaut32.dll");
    if (!Resolve(ole32, "CoInitializeEx", &g_com.CoInitializeEx) ||
        !Resolve(ole32, "CoCreateInstance", &g_com.CoCreateInstance) ||
        !Resolve(oleaut32, "SysAllocString", &g_com.SysAllocString))
        return false;
    // S_FALSE: this thread had it already. A thread in another apartment
    // model (RPC_E_CHANGED_MODE) has COM too, and COM's calls work there.
    const HRESULT result = g_com.CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return SUCCEEDED(result) || result == RPC_E_CHANGED_MODE;
}

bool LoadAccessibility() {
    HMODULE oleacc = LoadSystemLibrary("oleacc.dll");
    return Com() && Resolve(oleacc, "CreateStdAccessibleObject", &g_accessibility.CreateStdAccessibleObject) &&
           Resolve(oleacc, "LresultFromObject", &g_accessibility.LresultFromObject);
}

}  // namespace

const ComApi* Com() {
    if (g_comState == 0) g_comState = LoadCom() ? 1 : -1;
    return g_comState == 1 ? &g_com : nullptr;
}

const AccessibilityApi* Accessibility() {
    if (g_accessibilityState == 0) g_accessibilityState = LoadAccessibility() ? 1 : -1;
    return g_accessibilityState == 1 ? &g_accessibility : nullptr;
}
