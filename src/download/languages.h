// The package language codes, in the order of the language chooser's buttons.
#pragma once

constexpr int LANGUAGE_COUNT = 11;
constexpr const char* kLanguageCodes[LANGUAGE_COUNT] = {"CHT", "DEU", "ENG", "SPA", "FRE", "ITA",
                                                               "JAP", "KOR", "DUT", "POR", "SWE"};
