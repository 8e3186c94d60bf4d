#include "download/manager_state.h"

ManagerState g_manager;
