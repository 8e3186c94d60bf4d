// Where each language's status texts lie in the string table. English keeps
// its numbers 1 to 7; every other language of the chooser has a string block
// of its own (16 numbers), after English's: text n of the language in place
// i of the chooser is number (i + 1) * 16 + n.
#pragma once

constexpr int STATUS_TEXT_BLOCK = 16;

// The string number of status text number (1 to 7) in language, one of the
// chooser's codes; number itself for English and for any other code.
int StatusTextResource(const char* language, int number);
