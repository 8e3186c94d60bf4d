// Fetches and parses the info file that lies next to the installer.
#pragma once

// Fetches the info file address of the URL buffer into the response text,
// then takes line 1 as the total size and the rest as the news text of the
// ticker. False on a failed fetch, a text without LF or a size of 0 or less.
bool ParseInfoFile();
