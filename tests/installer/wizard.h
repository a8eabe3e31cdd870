// Drives the setup program's and the uninstaller's pages from outside, as a
// user would: finds pages by the texts they show, presses their buttons and
// saves their pictures. Texts are compared as UTF-16, so Korean pages work
// the same as English ones.
#pragma once
#include <windows.h>
#include <string>

std::wstring WideWindowText(HWND window);
// A visible control anywhere inside window whose text contains text.
HWND FindControl(HWND window, const wchar_t* text);
// A visible dialog of any process holding such a control, or null.
HWND FindWizardWith(const wchar_t* text);
// Waits for a page showing text, lets it paint and saves its picture.
void ExpectPage(HWND wizard, const wchar_t* text, const char* screenshot);
// Presses the wizard's Next / Install / Finish / Close button once enabled.
void PressNext(HWND wizard);
void Click(HWND button);
// Ends every setup program or uninstaller still showing a page, as after a
// failed check: left open, it would keep the test runner waiting on its
// inherited output.
void EndWizards();
