// Files that the program, running elevated, writes or trusts in folders
// that others may write: a link planted there must not lead it elsewhere.
#pragma once

#include <windows.h>

// The file itself, not a link to another (a symbolic link, a junction on
// the way, or a second name of some other file).
bool IsOnlyName(HANDLE file);
