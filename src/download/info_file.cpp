#include "download/info_file.h"

#include "download/info_text.h"
#include "download/manager_state.h"
#include "platform/internet.h"

bool ParseInfoFile() {
    if (!g_manager.urlBuffer || !FetchText(g_manager.urlBuffer)) return false;
    return SplitInfoText(g_manager.responseText);
}
