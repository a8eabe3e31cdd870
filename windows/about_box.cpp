// The About box: its texts grow to what the language's font needs, and a
// language other than English gets the settings window's font.
#include "windows/about_box.h"
#include "platform/display_scale.h"
#include "res/resource.h"
#include "settings/ui_text.h"
#include "windows/settings_window.h"

// Each text of the box that its font would cut grows to the right, up to
// the box's margin: the template's widths are the English texts'.
static void FitAboutTexts(HWND dialog)
{
    RECT client;
    GetClientRect(dialog, &client);
    UINT dpi = WindowDpi(dialog);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongW(child, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            continue;
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(NULL, dialog, reinterpret_cast<POINT*>(&rect), 2);
        int needed = TextWidth(child, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0))) +
                     (GetDlgCtrlID(child) == IDOK ? ScaleToDpi(3 * 2 + 4, dpi) : 1);
        int limit = client.right - ScaleToDpi(7, dpi) - rect.left;
        if (needed > rect.right - rect.left)
            SetWindowPos(child, NULL, 0, 0, needed < limit ? needed : limit, rect.bottom - rect.top,
                         SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        // Where the box shows a language other than English, the settings
        // window's font, whose fallback finds a face with the script on any
        // PC. Each box keeps its own: the tray's menu can open a second box
        // while one is open.
        if (UiLanguageInForce().language != LANG_ENGLISH) {
            HFONT font = CreateSettingsFont(WindowDpi(dialog));
            SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(font));
            for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
                SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
        }
        FitAboutTexts(dialog);
        return TRUE;
    case WM_DESTROY:
        if (HFONT font = reinterpret_cast<HFONT>(GetWindowLongPtrW(dialog, DWLP_USER)))
            DeleteObject(font);
        break;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
