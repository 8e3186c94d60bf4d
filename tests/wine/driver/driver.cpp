// Automation helper of the end-to-end tests: finds the program's dialogs from
// outside, reads their controls, clicks buttons, sends keys and system
// commands. Prints "key=value" lines.
#include <windows.h>
#include <oleacc.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../common/escaped_output.h"

namespace {

HWND FindTopLevel(const char* title, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        HWND window = FindWindowA(nullptr, title);
        if (window && IsWindowVisible(window)) return window;
        if (GetTickCount() - start >= timeoutMs) return nullptr;
        Sleep(20);
    }
}

std::string TextOf(HWND window) {
    char text[4096] = {};
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 5000,
                        nullptr);
    return text;
}

GUITHREADINFO ThreadInfoOf(HWND window) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) info = GUITHREADINFO{};
    return info;
}

HWND FocusOf(HWND window) { return ThreadInfoOf(window).hwndFocus; }

HWND Required(const char* title) {
    HWND window = FindTopLevel(title, 10000);
    if (!window) {
        printf("found=0\n");
        exit(3);
    }
    return window;
}

BOOL CALLBACK PrintChild(HWND child, LPARAM) {
    char className[64] = {};
    GetClassNameA(child, className, sizeof className);
    RECT r = {};
    GetWindowRect(child, &r);
    const int id = GetDlgCtrlID(child);
    printf("control=%d class=%s visible=%d checked=%d rect=%ld,%ld,%ld,%ld\n", id, className,
           IsWindowVisible(child) ? 1 : 0,
           static_cast<int>(SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED &&
                            std::strcmp(className, "Button") == 0),
           r.left, r.top, r.right, r.bottom);
    if (std::strcmp(className, "Edit") == 0) {
        const DWORD selection = static_cast<DWORD>(SendMessageA(child, EM_GETSEL, 0, 0));
        printf("selection%d=%u,%u\n", id, LOWORD(selection), HIWORD(selection));
    }
    char key[32];
    snprintf(key, sizeof key, "text%d", id);
    PrintEscaped(key, TextOf(child).c_str());
    return TRUE;
}

// find TITLE TIMEOUT_MS
int Find(char** args) {
    HWND window = FindTopLevel(args[0], static_cast<DWORD>(atoi(args[1])));
    printf("found=%d\n", window ? 1 : 0);
    return 0;
}

// gone TITLE TIMEOUT_MS: waits until no such window exists.
int Gone(char** args) {
    const DWORD start = GetTickCount(), timeout = static_cast<DWORD>(atoi(args[1]));
    while (FindWindowA(nullptr, args[0]) && GetTickCount() - start < timeout) Sleep(20);
    printf("gone=%d\n", FindWindowA(nullptr, args[0]) ? 0 : 1);
    return 0;
}

// state TITLE: the window and every control.
int State(char** args) {
    HWND window = Required(args[0]);
    RECT r = {}, client = {};
    GetWindowRect(window, &r);
    GetClientRect(window, &client);
    printf("found=1\nvisible=%d\nzoomed=%d\niconic=%d\nrect=%ld,%ld,%ld,%ld\nclient=%ld,%ld\n",
           IsWindowVisible(window) ? 1 : 0, IsZoomed(window) ? 1 : 0, IsIconic(window) ? 1 : 0, r.left, r.top,
           r.right, r.bottom, client.right, client.bottom);
    PrintEscaped("title", TextOf(window).c_str());
    const GUITHREADINFO thread = ThreadInfoOf(window);
    printf("focus=%d\n", thread.hwndFocus ? GetDlgCtrlID(thread.hwndFocus) : 0);
    printf("caret=%d\n", thread.hwndCaret ? GetDlgCtrlID(thread.hwndCaret) : 0);
    EnumChildWindows(window, PrintChild, 0);
    return 0;
}

// click TITLE ID: presses a button as a user would.
int Click(char** args) {
    HWND button = GetDlgItem(Required(args[0]), atoi(args[1]));
    printf("posted=%d\n", button && PostMessageA(button, BM_CLICK, 0, 0) ? 1 : 0);
    return 0;
}

// settext TITLE ID TEXT: puts TEXT into a control, as typing would.
int SetText(char** args) {
    HWND control = GetDlgItem(Required(args[0]), atoi(args[1]));
    DWORD_PTR result = 0;
    const bool set = control && SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[2]),
                                                    SMTO_ABORTIFHUNG, 5000, &result);
    printf("set=%d\n", set ? 1 : 0);
    return 0;
}

// command TITLE ID: posts WM_COMMAND with ID to the dialog.
int Command(char** args) {
    HWND window = Required(args[0]);
    const int id = atoi(args[1]);
    printf("posted=%d\n", PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                                       reinterpret_cast<LPARAM>(GetDlgItem(window, id)))
                              ? 1
                              : 0);
    return 0;
}

// key TITLE VK: a key press on the window's focused control.
int Key(char** args) {
    HWND window = Required(args[0]);
    HWND target = FocusOf(window);
    if (!target) target = window;
    const WPARAM vk = static_cast<WPARAM>(strtol(args[1], nullptr, 0));
    const BOOL ok = PostMessageA(target, WM_KEYDOWN, vk, 1) && PostMessageA(target, WM_KEYUP, vk, 0xC0000001);
    printf("posted=%d\n", ok ? 1 : 0);
    return 0;
}

// syscommand TITLE SC: a system menu command (close box, maximise, ...).
int SysCommand(char** args) {
    HWND window = Required(args[0]);
    printf("posted=%d\n", PostMessageA(window, WM_SYSCOMMAND, strtoul(args[1], nullptr, 0), 0) ? 1 : 0);
    return 0;
}

// Prints the distinct texts of control ID of window TITLE until the window
// goes, MS pass or, with untilOk, the OK button shows (its last text then
// printed too).
int WatchTexts(char** args, bool untilOk) {
    HWND window = Required(args[0]);
    HWND control = GetDlgItem(window, atoi(args[1]));
    HWND ok = GetDlgItem(window, IDOK);
    const DWORD start = GetTickCount(), duration = static_cast<DWORD>(atoi(args[2]));
    std::string last = "\x01";
    for (bool done = false; !done && IsWindow(window) && GetTickCount() - start < duration;) {
        done = untilOk && IsWindowVisible(ok);
        const std::string text = TextOf(control);
        if (text != last && IsWindow(window)) {
            PrintEscaped("seen", text.c_str());
            last = text;
        }
        if (!done) Sleep(25);
    }
    printf("open=%d\n", IsWindow(window) ? 1 : 0);
    return 0;
}

// watch TITLE ID MS: the distinct texts of a control until the window goes
// or MS pass.
int Watch(char** args) { return WatchTexts(args, false); }

// watch-until-ok TITLE ID MS: the same, up to the text shown with the OK
// button (a failure's).
int WatchUntilOk(char** args) { return WatchTexts(args, true); }

// {618736E0-3C3D-11CF-810C-00AA00389B71}: the import library's
// IID_IAccessible is an import thunk when taken as data.
const GUID kAccessibleId = {0x618736E0, 0x3C3D, 0x11CF, {0x81, 0x0C, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};

HWND g_watchedBar;
int g_valueEvents, g_otherEvents;

void CALLBACK OnValueChange(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG child, DWORD, DWORD) {
    if (window == g_watchedBar && object == OBJID_CLIENT && child == CHILDID_SELF)
        ++g_valueEvents;
    else
        ++g_otherEvents;
}

std::string Narrow(BSTR text) {
    char narrow[512] = {};
    if (text) WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
    return narrow;
}

// The control's accessible object as another process gets it, and its
// role, name and value; "hresult" tells what failed.
void ReadAccessible(HWND control, std::string* role, std::string* name, std::string* value, HRESULT* result) {
    IAccessible* object = nullptr;
    *result = AccessibleObjectFromWindow(control, OBJID_CLIENT, kAccessibleId, reinterpret_cast<void**>(&object));
    if (FAILED(*result) || !object) return;
    VARIANT self;
    VariantInit(&self);
    self.vt = VT_I4;
    self.lVal = CHILDID_SELF;
    VARIANT roleValue;
    VariantInit(&roleValue);
    if (SUCCEEDED(*result = object->get_accRole(self, &roleValue)) && roleValue.vt == VT_I4)
        *role = std::to_string(roleValue.lVal);
    BSTR text = nullptr;
    if (SUCCEEDED(object->get_accName(self, &text))) *name = Narrow(text);
    SysFreeString(text);
    text = nullptr;
    if (SUCCEEDED(*result = object->get_accValue(self, &text))) *value = Narrow(text);
    SysFreeString(text);
    object->Release();
}

// accessible-watch TITLE ID MS: from outside the program, the accessible
// role, name and value of control ID, read over and over until the window
// goes, its OK button shows or MS pass, and the value-change events it
// raised, counted through an out-of-context event hook. Prints each value
// when it changes ("value=42%"), then role, name and counts (names in UTF-8).
int AccessibleWatch(char** args) {
    HWND window = Required(args[0]);
    HWND control = GetDlgItem(window, atoi(args[1]));
    HWND ok = GetDlgItem(window, IDOK);
    g_watchedBar = control;
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    HWINEVENTHOOK hook = SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr, OnValueChange,
                                         process, 0, WINEVENT_OUTOFCONTEXT);
    printf("hook=%d\n", hook ? 1 : 0);
    const DWORD start = GetTickCount(), duration = static_cast<DWORD>(atoi(args[2]));
    std::string role, name, last = "\x01";
    HRESULT result = S_OK;
    int reads = 0;
    for (bool done = false; !done && IsWindow(window) && GetTickCount() - start < duration;) {
        done = IsWindowVisible(ok);
        std::string value;
        ReadAccessible(control, &role, &name, &value, &result);
        ++reads;
        if (FAILED(result)) printf("hresult=0x%08lX\n", static_cast<unsigned long>(result));
        if (value != last && !value.empty()) {
            printf("value=%s\n", value.c_str());
            last = value;
        }
        // Events arrive as messages of this thread.
        const DWORD until = GetTickCount() + 100;
        while (static_cast<int>(until - GetTickCount()) > 0) {
            MsgWaitForMultipleObjects(0, nullptr, FALSE, until - GetTickCount(), QS_ALLINPUT);
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
        }
    }
    printf("role=%s\n", role.c_str());
    PrintEscaped("name", name.c_str());
    printf("reads=%d\nvalue_events=%d\nother_events=%d\nopen=%d\n", reads, g_valueEvents, g_otherEvents,
           IsWindow(window) ? 1 : 0);
    if (hook) UnhookWinEvent(hook);
    return 0;
}

struct DriverCommand {
    const char* name;
    int argCount;
    int (*run)(char** args);
};

const DriverCommand kCommands[] = {
    {"find", 2, Find},   {"gone", 2, Gone},       {"state", 1, State},         {"click", 2, Click},
    {"command", 2, Command}, {"key", 2, Key},     {"syscommand", 2, SysCommand}, {"watch", 3, Watch},
    {"settext", 3, SetText}, {"watch-until-ok", 3, WatchUntilOk}, {"accessible-watch", 3, AccessibleWatch},
};

// Undoes \xNN escapes in place: a title in the system's code page passes
// the command line intact. (Wine converts the command line with the C
// library's locale, which is plain ASCII where the locale is not installed,
// although the Windows locale follows LC_ALL all the same.)
void Unescape(char* text) {
    char* out = text;
    for (const char* at = text; *at;) {
        if (at[0] == '\\' && at[1] == 'x' && isxdigit(static_cast<unsigned char>(at[2])) &&
            isxdigit(static_cast<unsigned char>(at[3]))) {
            const char hex[3] = {at[2], at[3], '\0'};
            *out++ = static_cast<char>(strtol(hex, nullptr, 16));
            at += 4;
        } else {
            *out++ = *at++;
        }
    }
    *out = '\0';
}

}  // namespace

int main(int argc, char** argv) {
    setvbuf(stdout, nullptr, _IONBF, 0);
    for (int i = 2; i < argc; ++i) Unescape(argv[i]);
    for (const DriverCommand& c : kCommands)
        if (argc >= 2 && std::strcmp(argv[1], c.name) == 0 && argc - 2 == c.argCount) return c.run(argv + 2);
    fprintf(stderr, "usage: tembra_driver find|gone|state|click|command|key|syscommand|watch ...\n");
    return 2;
}
