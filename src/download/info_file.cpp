#include "download/info_file.h"

#include "download/info_text.h"
#include "download/manager_state.h"
#include "platform/internet.h"
#include "platform/support_log.h"

bool ParseInfoFile() {
    LogRequest("info file", g_manager.urlBuffer, -1);
    if (!g_manager.urlBuffer || !FetchText(g_manager.urlBuffer)) return false;
    LogInfoSizeLine(g_manager.responseText);
    return SplitInfoText(g_manager.responseText);
}
