// The "Modes for programs" window: every rule in force with who set it, and
// the user's own rules added, changed and removed. Built in code like the
// Custom Settings window, with the wide calls, since its texts and the
// programs' names may be in any script.
#pragma once
#include <windows.h>

extern const WCHAR ProgramsClassName[];
// Null until the window is first opened; it then lives for the run.
extern HWND ProgramsWindowHandle;

// Makes the window (hidden) on its first call; null when that fails.
HWND CreateProgramsWindow(HINSTANCE instance);
// Fills the list from the rules in force and shows the window in front.
void ShowProgramsWindow();
// The rules in force changed: the list follows if the window is there.
void ShowProgramRulesInWindow();
// The image path of the program the last press went to, offered first.
void NoteLastPressProgram(const WCHAR* imagePath);
// The window's outer size at the DPI: 500 x 350 at 96 DPI.
SIZE ProgramsWindowSize(UINT dpi);

// Called after the window has written the user's key, so that the rules
// are read again and put in force at once.
typedef void (*ProgramRulesEditedFn)();
extern ProgramRulesEditedFn ProgramRulesEdited;

// Whether a name typed or browsed can be a rule: not empty, no * or ?,
// shorter than MAX_PATH. Blanks around it are taken off in place.
bool AcceptRuleName(WCHAR* name);

// Control IDs, in the order the controls are made.
enum ProgramsControl {
    IDC_PROGRAMS_NOTE = 1101,
    IDC_PROGRAMS_LIST,
    IDC_PROGRAMS_PROGRAM_LABEL,
    IDC_PROGRAMS_PROGRAM,
    IDC_PROGRAMS_BROWSE,
    IDC_PROGRAMS_MODE_LABEL,
    IDC_PROGRAMS_MODE,
    IDC_PROGRAMS_ADD,
    IDC_PROGRAMS_REMOVE,
    IDC_PROGRAMS_CLOSE,
};

// Shows the "Modes for programs" window, made on its first opening.
void OpenProgramsWindow(HINSTANCE instance);
