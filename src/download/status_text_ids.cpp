#include "download/status_text_ids.h"

#include <cstring>

#include "download/languages.h"

int StatusTextResource(const char* language, int number) {
    if (!language) return number;
    for (int i = 0; i < LANGUAGE_COUNT; ++i)
        if (std::strcmp(language, kLanguageCodes[i]) == 0 && std::strcmp(language, "ENG") != 0)
            return (i + 1) * STATUS_TEXT_BLOCK + number;
    return number;
}
