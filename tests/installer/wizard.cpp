#include "tests/installer/wizard.h"
#include "tests/support/lumo_process.h"
#include "tests/support/wait_until.h"
#include <gtest/gtest.h>

std::wstring WideWindowText(HWND window)
{
    wchar_t text[512] = {0};
    DWORD_PTR result = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 2000, &result);
    return text;
}

struct ChildSearch {
    const wchar_t* text;
    HWND found;
};

static BOOL CALLBACK MatchChildText(HWND window, LPARAM lParam)
{
    ChildSearch* search = reinterpret_cast<ChildSearch*>(lParam);
    if (IsWindowVisible(window) && WideWindowText(window).find(search->text) != std::wstring::npos) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindControl(HWND window, const wchar_t* text)
{
    ChildSearch search = {text, NULL};
    EnumChildWindows(window, MatchChildText, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindWizardWith(const wchar_t* text)
{
    for (HWND w = FindWindowExA(NULL, NULL, "#32770", NULL); w; w = FindWindowExA(NULL, w, "#32770", NULL))
        if (IsWindowVisible(w) && FindControl(w, text))
            return w;
    return NULL;
}

void ExpectPage(HWND wizard, const wchar_t* text, const char* screenshot)
{
    ASSERT_TRUE(WaitUntil([&] { return FindControl(wizard, text) != NULL; }, 20000)) << screenshot;
    // The page's picture waits until it has painted what it shows.
    EXPECT_TRUE(WaitUntil([&] { return Drawn(wizard); }, 5000)) << screenshot;
    EXPECT_TRUE(SaveScreenshot(wizard, screenshot));
}

void Click(HWND button)
{
    DWORD_PTR ignored;
    SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

void PressNext(HWND wizard)
{
    // A wizard found the moment its window appears may not have its
    // buttons yet.
    HWND next = NULL;
    ASSERT_TRUE(WaitUntil([&] { return (next = GetDlgItem(wizard, IDOK)) != NULL && IsWindowEnabled(next); }, 20000));
    // Each page is a dialog of its own inside the wizard. A click that comes
    // while a page is still being made is lost on a busy machine: it is
    // given again until the page has changed or the wizard has gone.
    HWND page = FindWindowExA(wizard, NULL, "#32770", NULL);
    auto moved = [&] { return !IsWindow(wizard) || FindWindowExA(wizard, NULL, "#32770", NULL) != page; };
    for (int tries = 0; tries < 3 && !moved(); ++tries) {
        if (IsWindowEnabled(next))
            Click(next);
        WaitUntil(moved, 5000);
    }
    EXPECT_TRUE(moved()) << "the wizard did not leave its page";
}

void EndWizards()
{
    for (int i = 0; i < 10; ++i) {
        HWND wizard = FindWizardWith(L"Lumo2");
        if (!wizard)
            return;
        DWORD pid = 0;
        GetWindowThreadProcessId(wizard, &pid);
        HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
        if (!process)
            return;
        TerminateProcess(process, 1);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}
