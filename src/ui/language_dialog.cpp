#include "ui/language_dialog.h"

#include "download/manager_state.h"
#include "ui/single_instance.h"

// Captions in the system's own code page: Big5, Shift-JIS and the Korean
// code page. They read right only on such a system, so they are set only there.
const LanguageRow kLanguages[LANGUAGE_COUNT] = {
    {1015, kLanguageCodes[0], LANG_CHINESE, "\xA4\xA4\xA4\xE5"},
    {1016, kLanguageCodes[1], LANG_GERMAN, nullptr},
    {1017, kLanguageCodes[2], 0, nullptr},
    {1018, kLanguageCodes[3], LANG_SPANISH, nullptr},
    {1019, kLanguageCodes[4], LANG_FRENCH, nullptr},
    {1020, kLanguageCodes[5], LANG_ITALIAN, nullptr},
    {1021, kLanguageCodes[6], LANG_JAPANESE, "\x93\xFA\x96\x7B\x8C\xEA"},
    {1022, kLanguageCodes[7], LANG_KOREAN, "\xC8\xAF\xB8\xA6"},
    {1023, kLanguageCodes[8], LANG_DUTCH, nullptr},
    {1024, kLanguageCodes[9], LANG_PORTUGUESE, nullptr},
    {1025, kLanguageCodes[10], LANG_SWEDISH, nullptr},
};

static const int ENGLISH_ROW = 2;

const LanguageRow& PreselectedLanguage(unsigned primaryLanguage) {
    for (const LanguageRow& row : kLanguages)
        if (row.primaryLanguage != 0 && row.primaryLanguage == primaryLanguage) return row;
    return kLanguages[ENGLISH_ROW];
}

static INT_PTR OnInitDialog(HWND dialog) {
    MarkProgramWindow(dialog);
    const LanguageRow& row = PreselectedLanguage(GetSystemDefaultLangID() & 0x3FF);
    if (row.nativeCaption) SetWindowTextA(GetDlgItem(dialog, row.control), row.nativeCaption);
    SendDlgItemMessageA(dialog, row.control, BM_SETCHECK, BST_CHECKED, 0);
    return TRUE;  // the dialog manager gives the OK button the focus
}

// The first checked button in table order names the language; none: English.
static void OnOk(HWND dialog) {
    g_manager.language = kLanguages[ENGLISH_ROW].code;
    for (const LanguageRow& row : kLanguages) {
        if (SendDlgItemMessageA(dialog, row.control, BM_GETSTATE, 0, 0) & BST_CHECKED) {
            g_manager.language = row.code;
            break;
        }
    }
    EndDialog(dialog, 1);
}

static INT_PTR OnCommand(HWND dialog, WORD command) {
    switch (command) {
    case IDOK:
        OnOk(dialog);
        return TRUE;
    case IDCANCEL:  // the Escape key or the close box
        EndDialog(dialog, 0);
        return TRUE;
    default:
        return FALSE;
    }
}

INT_PTR CALLBACK LanguageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_COMMAND:
        return OnCommand(dialog, LOWORD(wParam));
    default:
        return FALSE;
    }
}
