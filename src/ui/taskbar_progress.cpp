// ITaskbarList3, created through COM on the user-interface thread on first
// use, written C-style like the program's own COM object.
#define CINTERFACE
#include "ui/taskbar_progress.h"

#include <shobjidl.h>

#include "platform/com_libraries.h"
#include "platform/support_log.h"

namespace {

// {56FDF344-FD6D-11D0-958A-006097C9A090} and {EA1AFB91-9E28-4B86-90E9-9E9F8A5EEFAF}
const GUID kTaskbarListClass = {0x56FDF344, 0xFD6D, 0x11D0, {0x95, 0x8A, 0x00, 0x60, 0x97, 0xC9, 0xA0, 0x90}};
const GUID kTaskbarList3Id = {0xEA1AFB91, 0x9E28, 0x4B86, {0x90, 0xE9, 0x9E, 0x9F, 0x8A, 0x5E, 0xEF, 0xAF}};

ITaskbarList3* g_list;
bool g_tried;

// The list, or null where the system has none (before Windows 7, or without
// COM). Calls made before the taskbar has the window's button fail and are
// simply made again with the next value; the button's own announcement
// (TaskbarButtonCreated) is not waited for, since an elevated program does
// not receive it from a shell that is not.
ITaskbarList3* TaskbarList() {
    if (g_tried) return g_list;
    g_tried = true;
    const ComApi* com = Com();
    void* list = nullptr;
    const HRESULT created = com ? com->CoCreateInstance(&kTaskbarListClass, nullptr, CLSCTX_INPROC_SERVER,
                                                        &kTaskbarList3Id, &list)
                                : E_NOINTERFACE;
    LogResult("taskbar: progress list", created);
    if (FAILED(created)) return nullptr;
    g_list = static_cast<ITaskbarList3*>(list);
    if (FAILED(g_list->lpVtbl->HrInit(g_list))) {
        g_list->lpVtbl->Release(g_list);
        g_list = nullptr;
    }
    return g_list;
}

void SetState(HWND window, TaskbarState state) {
    if (ITaskbarList3* list = TaskbarList()) list->lpVtbl->SetProgressState(list, window, static_cast<TBPFLAG>(state));
}

void SetValue(HWND window, int percent) {
    if (ITaskbarList3* list = TaskbarList()) list->lpVtbl->SetProgressValue(list, window, percent, 100);
}

}  // namespace

TaskbarCalls g_taskbar = {SetState, SetValue};
