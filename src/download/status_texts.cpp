// The status texts in the language the user picked.
#include <windows.h>

#include "download/manager_flow.h"
#include "download/manager_state.h"
#include "download/status_text_ids.h"

// The translation of resource into text, in the system's ANSI code page
// (the windows are drawn through the ANSI API). False when there is none, or
// when a character of it has no place in that code page: a Japanese text on
// a Western system would otherwise show as question marks.
static bool LoadTranslation(HINSTANCE instance, int resource, char* text) {
    wchar_t wide[STATUS_TEXT_SIZE];
    if (LoadStringW(instance, resource, wide, STATUS_TEXT_SIZE) <= 0) return false;
    // A system whose ANSI code page is UTF-8 shows every character; there the
    // flags and the default-character report are refused (ERROR_INVALID_PARAMETER).
    const bool utf8 = GetACP() == CP_UTF8;
    BOOL usedDefault = FALSE;
    return WideCharToMultiByte(CP_ACP, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, text, STATUS_TEXT_SIZE, nullptr,
                               utf8 ? nullptr : &usedDefault) > 0 &&
           !usedDefault;
}

// The window speaks one language: the picked one only where all of its
// texts can be shown (a Swedish "ä" has no place in the Japanese code page,
// while "Initierar..." would), English otherwise.
static bool TranslationShown(HINSTANCE instance, char* text) {
    for (int number = TEXT_TITLE; number <= TEXT_START_FAILED; ++number) {
        const int resource = StatusTextResource(g_manager.language, number);
        if (resource == number || !LoadTranslation(instance, resource, text)) return false;
    }
    return true;
}

const char* LoadStatusText(int number) {
    char* text = g_manager.statusText;
    HINSTANCE instance = static_cast<HINSTANCE>(g_manager.instance);
    if (TranslationShown(instance, text) &&
        LoadTranslation(instance, StatusTextResource(g_manager.language, number), text))
        return text;
    // English, by its own number, as it always was.
    if (LoadStringA(instance, number, text, STATUS_TEXT_SIZE) <= 0) text[0] = '\0';
    return text;
}
