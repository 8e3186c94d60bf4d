/* Numbers shared by the resource script and the code (plain defines, so
   that the resource compiler reads them too). */
#pragma once

#define IDI_PROGRAM 105

/* Manager window */
#define IDC_STATUS 1001
#define IDC_PROGRESS 1003
#define IDC_FOCUS_SINK 1005

/* Language chooser: radio buttons 1015 to 1025 in table order */
#define IDC_LANGUAGE_FIRST 1015
#define IDC_LANGUAGE_LAST 1025
