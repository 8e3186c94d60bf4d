// The language chooser: the modal dialog "LANGCHOOSER".
#pragma once

#include <windows.h>

#include "download/languages.h"

struct LanguageRow {
    int control;                   // radio button 1015..1025
    const char* code;              // package language code
    unsigned primaryLanguage;      // system language that preselects it; 0 for none
    const char* nativeCaption;     // caption set only on such a system, or null
};

extern const LanguageRow kLanguages[LANGUAGE_COUNT];

// The row preselected for a primary language (GetSystemDefaultLangID() &
// 0x3FF): its own row, or the English one.
const LanguageRow& PreselectedLanguage(unsigned primaryLanguage);

INT_PTR CALLBACK LanguageDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
