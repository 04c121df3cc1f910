// The one AppState, alone in its file: the settings file and the command
// line program use it without pulling in the windows.
#include "app_state.h"

AppState app = {};
