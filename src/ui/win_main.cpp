// Program entry: the language chooser, then the manager window.
#include <windows.h>

#include "download/manager_state.h"
#include "install/installer.h"
#include "platform/support_log.h"
#include "ui/language_dialog.h"
#include "ui/manager_window.h"
#include "ui/single_instance.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    // Before anything else: a second copy touches no file, key or server.
    if (!BecomeOnlyCopy()) return 0;
    g_manager.instance = instance;
    OpenSupportLog();
    // A chooser that cannot be created (-1) also leads on, with "ENG".
    const INT_PTR chosen = DialogBoxParamA(instance, "LANGCHOOSER", nullptr, LanguageDialogProc, 0);
    LogChooserResult(chosen, g_manager.language);
    if (chosen != 0) DialogBoxParamA(instance, "MANAGER", nullptr, ManagerDialogProc, 0);
    LeaveOnlyCopy();
    FinishInstallation();
    return 0;
}
