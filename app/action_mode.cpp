#include "app/action_mode.h"

LONG ActionMode = ModeSpace;
const char ProgramKeyPath[] = "Software\\Kestrova";
