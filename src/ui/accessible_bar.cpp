// The progress bar as assistive technology sees it. The control is a static
// picture; on its own it would be announced as an unlabelled graphic. Its
// window procedure is wrapped so that it answers WM_GETOBJECT with an
// IAccessible of its own: a progress bar named after the window, whose value
// is the whole percentage as Windows' own progress bar gives it ("0%" to
// "100%"), everything else asked of the system's standard object.
//
// COM objects are written C-style here (a struct whose first member points
// at a table of functions), so that the program keeps to plain functions.
#define CINTERFACE
#include "ui/accessible_bar.h"

#include <oleacc.h>

#include <cstdlib>

#include "platform/com_libraries.h"
#include "ui/progress_report.h"
#include "ui/resource_ids.h"

namespace {

// {618736E0-3C3D-11CF-810C-00AA00389B71}, {00020400-0000-0000-C000-000000000046}
// and {00000000-0000-0000-C000-000000000046}. Spelt out: the import library's
// IID_IAccessible is an import, not the GUID, when taken as data.
const GUID kAccessibleId = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
const GUID kDispatchId = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const GUID kUnknownId = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

struct AccessibleBar {
    IAccessible object;  // first: the pointer handed out is this struct's
    LONG references;
    HWND bar;
    IAccessible* standard;  // the system's object for the control; null where there is none
};

AccessibleBar* Self(IAccessible* object) { return reinterpret_cast<AccessibleBar*>(object); }
IAccessible* Standard(IAccessible* object) { return Self(object)->standard; }
bool IsSelf(const VARIANT& child) { return V_VT(&child) == VT_I4 && V_I4(&child) == CHILDID_SELF; }

HRESULT STDMETHODCALLTYPE QueryInterface(IAccessible* object, REFIID id, void** result) {
    if (!result) return E_POINTER;
    if (!IsEqualIID(id, kAccessibleId) && !IsEqualIID(id, kDispatchId) && !IsEqualIID(id, kUnknownId)) {
        *result = nullptr;
        return E_NOINTERFACE;
    }
    *result = object;
    InterlockedIncrement(&Self(object)->references);
    return S_OK;
}

ULONG STDMETHODCALLTYPE AddRef(IAccessible* object) {
    return static_cast<ULONG>(InterlockedIncrement(&Self(object)->references));
}

ULONG STDMETHODCALLTYPE Release(IAccessible* object) {
    const LONG left = InterlockedDecrement(&Self(object)->references);
    if (left == 0) {
        if (Standard(object)) Standard(object)->lpVtbl->Release(Standard(object));
        std::free(Self(object));
    }
    return static_cast<ULONG>(left);
}

// No type information: clients use IAccessible's own methods, as they do
// with the system's objects.
HRESULT STDMETHODCALLTYPE GetTypeInfoCount(IAccessible*, UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE GetTypeInfo(IAccessible*, UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE GetIDsOfNames(IAccessible*, REFIID, LPOLESTR*, UINT, LCID, DISPID*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE Invoke(IAccessible*, DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) {
    return E_NOTIMPL;
}

HRESULT Text(const wchar_t* text, BSTR* result) {
    const ComApi* com = Com();
    *result = com ? com->SysAllocString(text) : nullptr;
    return *result ? S_OK : E_OUTOFMEMORY;
}

// The window's title names what is being downloaded ("Downloading...", in
// the user's language).
HRESULT STDMETHODCALLTYPE GetName(IAccessible* object, VARIANT child, BSTR* name) {
    if (!name) return E_POINTER;
    *name = nullptr;
    if (!IsSelf(child)) return E_INVALIDARG;
    wchar_t title[256] = {};
    GetWindowTextW(GetParent(Self(object)->bar), title, 256);
    return Text(title, name);
}

HRESULT STDMETHODCALLTYPE GetValue(IAccessible*, VARIANT child, BSTR* value) {
    if (!value) return E_POINTER;
    *value = nullptr;
    if (!IsSelf(child)) return E_INVALIDARG;
    wchar_t text[8];
    wchar_t* at = text + 7;
    *at = L'\0';
    *--at = L'%';
    int percent = ReportedPercent();
    do {
        *--at = static_cast<wchar_t>(L'0' + percent % 10);
        percent /= 10;
    } while (percent != 0);
    return Text(at, value);
}

HRESULT STDMETHODCALLTYPE GetRole(IAccessible*, VARIANT child, VARIANT* role) {
    if (!role) return E_POINTER;
    if (!IsSelf(child)) return E_INVALIDARG;
    V_VT(role) = VT_I4;
    V_I4(role) = ROLE_SYSTEM_PROGRESSBAR;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE PutText(IAccessible*, VARIANT, BSTR) { return E_NOTIMPL; }

// The rest is the standard object's (place, state, parent, navigation, ...).
#define TEMBRA_DELEGATE(Name, Parameters, Arguments)                                 \
    HRESULT STDMETHODCALLTYPE Name(IAccessible* object TEMBRA_UNPAREN Parameters) {  \
        IAccessible* standard = Standard(object);                                    \
        if (!standard) return DISP_E_MEMBERNOTFOUND;                                 \
        return standard->lpVtbl->Name(standard TEMBRA_UNPAREN Arguments);            \
    }
#define TEMBRA_UNPAREN(...) __VA_ARGS__
TEMBRA_DELEGATE(get_accParent, (, IDispatch** parent), (, parent))
TEMBRA_DELEGATE(get_accChildCount, (, LONG* count), (, count))
TEMBRA_DELEGATE(get_accChild, (, VARIANT child, IDispatch** result), (, child, result))
TEMBRA_DELEGATE(get_accDescription, (, VARIANT child, BSTR* result), (, child, result))
TEMBRA_DELEGATE(get_accState, (, VARIANT child, VARIANT* result), (, child, result))
TEMBRA_DELEGATE(get_accHelp, (, VARIANT child, BSTR* result), (, child, result))
TEMBRA_DELEGATE(get_accHelpTopic, (, BSTR* file, VARIANT child, LONG* topic), (, file, child, topic))
TEMBRA_DELEGATE(get_accKeyboardShortcut, (, VARIANT child, BSTR* result), (, child, result))
TEMBRA_DELEGATE(get_accFocus, (, VARIANT* result), (, result))
TEMBRA_DELEGATE(get_accSelection, (, VARIANT* result), (, result))
TEMBRA_DELEGATE(get_accDefaultAction, (, VARIANT child, BSTR* result), (, child, result))
TEMBRA_DELEGATE(accSelect, (, LONG flags, VARIANT child), (, flags, child))
TEMBRA_DELEGATE(accLocation, (, LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child),
                (, left, top, width, height, child))
TEMBRA_DELEGATE(accNavigate, (, LONG direction, VARIANT start, VARIANT* end), (, direction, start, end))
TEMBRA_DELEGATE(accHitTest, (, LONG x, LONG y, VARIANT* child), (, x, y, child))
TEMBRA_DELEGATE(accDoDefaultAction, (, VARIANT child), (, child))
#undef TEMBRA_DELEGATE
#undef TEMBRA_UNPAREN

// In the interface's order; constant, so it lies in the program's read-only data.
const IAccessibleVtbl kTable = {
    QueryInterface, AddRef, Release,                                         // IUnknown
    GetTypeInfoCount, GetTypeInfo, GetIDsOfNames, Invoke,                    // IDispatch
    get_accParent, get_accChildCount, get_accChild, GetName, GetValue,       // IAccessible
    get_accDescription, GetRole, get_accState, get_accHelp, get_accHelpTopic,
    get_accKeyboardShortcut, get_accFocus, get_accSelection, get_accDefaultAction,
    accSelect, accLocation, accNavigate, accHitTest, accDoDefaultAction,
    PutText, PutText,                                                        // put_accName, put_accValue
};

// With one reference, the caller's; null when there is no memory.
IAccessible* CreateAccessibleBar(const AccessibilityApi* api, HWND bar) {
    AccessibleBar* self = static_cast<AccessibleBar*>(std::calloc(1, sizeof(AccessibleBar)));
    if (!self) return nullptr;
    self->object.lpVtbl = const_cast<IAccessibleVtbl*>(&kTable);
    self->references = 1;
    self->bar = bar;
    void* standard = nullptr;
    if (SUCCEEDED(api->CreateStdAccessibleObject(bar, OBJID_CLIENT, &kAccessibleId, &standard)))
        self->standard = static_cast<IAccessible*>(standard);
    return &self->object;
}

WNDPROC g_barProcedure;  // the static control's own

LRESULT CALLBACK AccessibleBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    // The object id arrives as a DWORD, zero-extended on 64-bit Windows.
    if (message == WM_GETOBJECT && static_cast<LONG>(static_cast<DWORD>(lParam)) == OBJID_CLIENT) {
        const AccessibilityApi* api = Accessibility();
        IAccessible* object = api ? CreateAccessibleBar(api, bar) : nullptr;
        if (object) {
            const LRESULT result = api->LresultFromObject(&kAccessibleId, wParam, object);
            object->lpVtbl->Release(object);  // the client holds its own reference, if any
            return result;
        }
    }
    return CallWindowProcA(g_barProcedure, bar, message, wParam, lParam);
}

}  // namespace

void MakeProgressBarAccessible(HWND dialog) {
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    if (!bar || g_barProcedure) return;
    g_barProcedure = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AccessibleBarProc)));
}

void AnnounceProgressValue(HWND dialog) {
    HWND bar = GetDlgItem(dialog, IDC_PROGRESS);
    if (bar) NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, bar, OBJID_CLIENT, CHILDID_SELF);
}
