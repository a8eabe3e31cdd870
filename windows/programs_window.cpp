// The "Modes for programs" window, built in code: the list of rules, the
// program and mode choosers, and the buttons that write the user's key.
#include "windows/programs_window.h"
#include "platform/display_scale.h"
#include "platform/dll_search.h"
#include "platform/window_paint.h"
#include "res/resource.h"
#include "settings/action_mode.h"
#include "settings/policy.h"
#include "settings/program_rules.h"
#include "settings/ui_text.h"
#include "windows/settings_window.h"
#include <commctrl.h>
#include <commdlg.h>

const WCHAR ProgramsClassName[] = L"Lumo2Programs";
HWND ProgramsWindowHandle;
ProgramRulesEditedFn ProgramRulesEdited;

static HWND Note, List, ProgramLabel, ProgramBox, BrowseButton, ModeLabel, ModeBox, AddButton, RemoveButton,
    CloseButton;
static HFONT ProgramsFont;
static WCHAR LastPressProgram[MAX_PATH];

struct ProgramsChild {
    HWND* handle;
    const WCHAR* className;
    UINT textId;  // 0: none
    DWORD style;
    int x, y, width, height;
    int id;
};

static const DWORD Child = WS_CHILD | WS_VISIBLE;
static const DWORD Button = Child | WS_TABSTOP | BS_PUSHBUTTON;
// In the order Tab goes through them.
static const ProgramsChild ProgramsControls[] = {
    {&Note, L"static", IDS_PROGRAMS_INTRO, Child | SS_NOPREFIX, 10, 8, 464, 36, IDC_PROGRAMS_NOTE},
    {&List, WC_LISTVIEWW, 0,
     Child | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER, 10, 48,
     464, 150, IDC_PROGRAMS_LIST},
    {&ProgramLabel, L"static", IDS_PROGRAMS_LABEL_PROGRAM, Child, 10, 214, 70, 20, IDC_PROGRAMS_PROGRAM_LABEL},
    {&ProgramBox, L"combobox", 0, Child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 85, 210, 270,
     200, IDC_PROGRAMS_PROGRAM},
    {&BrowseButton, L"button", IDS_PROGRAMS_BROWSE, Button, 374, 209, 100, 26, IDC_PROGRAMS_BROWSE},
    {&ModeLabel, L"static", IDS_PROGRAMS_LABEL_MODE, Child, 10, 248, 70, 20, IDC_PROGRAMS_MODE_LABEL},
    {&ModeBox, L"combobox", 0, Child | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 85, 244, 270, 240,
     IDC_PROGRAMS_MODE},
    {&AddButton, L"button", IDS_PROGRAMS_ADD, Child | WS_TABSTOP | BS_DEFPUSHBUTTON, 10, 282, 100, 28,
     IDC_PROGRAMS_ADD},
    {&RemoveButton, L"button", IDS_PROGRAMS_REMOVE, Button, 120, 282, 100, 28, IDC_PROGRAMS_REMOVE},
    {&CloseButton, L"button", IDS_PROGRAMS_CLOSE, Button, 374, 282, 100, 28, IDC_PROGRAMS_CLOSE},
};

static const int ProgramsWidth = 500;
static const int ProgramsHeight = 350;
static const DWORD ProgramsStyle = WS_CAPTION | WS_SYSMENU;
static const int ColumnWidths[] = {200, 125, 135};

// What each line of the list stands for.
struct ListedRule {
    RuleLevel level;
    UINT index;
};
static ListedRule Listed[RuleLevelCount * RulesPerKeyMax];
static int ListedCount;

bool AcceptRuleName(WCHAR* name)
{
    WCHAR* start = name;
    while (*start == L' ' || *start == L'\t')
        ++start;
    int length = lstrlenW(start);
    while (length > 0 && (start[length - 1] == L' ' || start[length - 1] == L'\t'))
        --length;
    if (start != name)
        MoveMemory(name, start, length * sizeof(WCHAR));
    name[length] = 0;
    LONG mode = 0;
    DWORD dword = ModeSpace;
    return ParseRuleValue(name, DWORD(length), REG_DWORD, reinterpret_cast<const BYTE*>(&dword), sizeof(dword),
                          &mode) == RuleFine;
}

// The menu's own text for the mode, as the user reads it there.
static void ModeMenuText(LONG mode, WCHAR* text, int size, WORD language)
{
    text[0] = 0;
    if (mode >= ModeSpace && mode <= ModeCustom)
        LoadUiTextFor(language, IDS_MODE_BASE + mode, text, size);
}

static void AddColumns()
{
    for (int i = 0; i < 3; ++i) {
        LVCOLUMNW column = {};
        column.mask = LVCF_WIDTH;
        column.cx = ColumnWidths[i];
        SendMessageW(List, LVM_INSERTCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    SendMessageW(List, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
}

static void LayOutPrograms(UINT dpi, BOOL redraw)
{
    HFONT font = CreateSettingsFont(dpi, true);
    for (const ProgramsChild& c : ProgramsControls) {
        SetWindowPos(*c.handle, NULL, ScaleToDpi(c.x, dpi), ScaleToDpi(c.y, dpi), ScaleToDpi(c.width, dpi),
                     ScaleToDpi(c.height, dpi), SWP_NOZORDER | SWP_NOACTIVATE);
        SendMessageW(*c.handle, WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
    }
    for (int i = 0; i < 3; ++i)
        SendMessageW(List, LVM_SETCOLUMNWIDTH, i, ScaleToDpi(ColumnWidths[i], dpi));
    if (ProgramsFont)
        DeleteObject(ProgramsFont);
    ProgramsFont = font;
}

static void FillModeBox(WORD language)
{
    LRESULT chosen = SendMessageW(ModeBox, CB_GETCURSEL, 0, 0);
    SendMessageW(ModeBox, CB_RESETCONTENT, 0, 0);
    for (LONG mode = ModeSpace; mode <= ModeCustom; ++mode) {
        WCHAR text[64];
        ModeMenuText(mode, text, 64, language);
        SendMessageW(ModeBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    }
    SendMessageW(ModeBox, CB_SETCURSEL, chosen > 0 ? chosen : 0, 0);
}

// The texts of the language in force, set at every opening so that a
// language chosen since the last shows without a restart; its font may
// differ, so the window is laid out again.
static void ShowProgramsTexts(HWND window)
{
    WORD language = UiLanguageInForce().language;
    WCHAR text[256];
    LoadUiTextFor(language, IDS_PROGRAMS_TITLE, text, 256);
    SetWindowTextW(window, text);
    for (const ProgramsChild& c : ProgramsControls) {
        if (c.textId) {
            LoadUiTextFor(language, c.textId, text, 256);
            SetWindowTextW(*c.handle, text);
        }
    }
    const UINT titles[] = {IDS_PROGRAMS_COLUMN_PROGRAM, IDS_PROGRAMS_COLUMN_MODE, IDS_PROGRAMS_COLUMN_SET_BY};
    for (int i = 0; i < 3; ++i) {
        LoadUiTextFor(language, titles[i], text, 64);
        LVCOLUMNW column = {};
        column.mask = LVCF_TEXT;
        column.pszText = text;
        SendMessageW(List, LVM_SETCOLUMNW, i, reinterpret_cast<LPARAM>(&column));
    }
    FillModeBox(language);
    LayOutPrograms(WindowDpi(window), TRUE);
}

static void CreateProgramsControls(HWND window)
{
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(window, GWLP_HINSTANCE));
    for (const ProgramsChild& c : ProgramsControls) {
        *c.handle = CreateWindowExW(c.handle == &List ? WS_EX_CLIENTEDGE : 0, c.className, L"", c.style, 0, 0, 0, 0,
                                    window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), instance, NULL);
    }
    AddColumns();
    ShowProgramsTexts(window);
}

static void AddListLine(int line, const WCHAR* program, LONG mode, UINT setBy, WORD language)
{
    LVITEMW item = {};
    item.mask = LVIF_TEXT;
    item.iItem = line;
    item.pszText = const_cast<WCHAR*>(program);
    SendMessageW(List, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    WCHAR text[64];
    ModeMenuText(mode, text, 64, language);
    item.iSubItem = 1;
    item.pszText = text;
    SendMessageW(List, LVM_SETITEMTEXTW, line, reinterpret_cast<LPARAM>(&item));
    LoadUiTextFor(language, setBy, text, 64);
    item.iSubItem = 2;
    item.pszText = text;
    SendMessageW(List, LVM_SETITEMTEXTW, line, reinterpret_cast<LPARAM>(&item));
}

static void ShowPolicyNote(WORD language)
{
    WCHAR text[512];
    if (ActivePolicy.mode == 0) {
        LoadUiTextFor(language, IDS_PROGRAMS_INTRO, text, 512);
    } else {
        WCHAR format[256], mode[64];
        LoadUiTextFor(language, IDS_PROGRAMS_POLICY_NOTE, format, 256);
        ModeMenuText(ActivePolicy.mode, mode, 64, language);
        wsprintfW(text, format, mode);
    }
    SetWindowTextW(Note, text);
}

static bool SelectedUserRule(const ProgramRule** rule);

static void UpdateRemoveButton()
{
    const ProgramRule* rule;
    EnableWindow(RemoveButton, SelectedUserRule(&rule));
}

// Every valid rule of every level, IT's first, as the press asks them.
static void FillRuleList()
{
    // Filled afresh whenever the rules are read (the menu opens, a key
    // changes): the line chosen stays chosen, found by its level and name.
    int chosen = int(SendMessageW(List, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
    WCHAR chosenName[MAX_PATH] = L"";
    RuleLevel chosenLevel = RuleLevelCount;
    if (chosen >= 0 && chosen < ListedCount) {
        LVITEMW item = {};
        item.pszText = chosenName;
        item.cchTextMax = MAX_PATH;
        SendMessageW(List, LVM_GETITEMTEXTW, chosen, reinterpret_cast<LPARAM>(&item));
        chosenLevel = Listed[chosen].level;
    }
    SendMessageW(List, LVM_DELETEALLITEMS, 0, 0);
    ListedCount = 0;
    WORD language = UiLanguageInForce().language;
    const ProgramRules* rules = RulesInForce;
    if (rules) {
        for (int level = MachinePolicyRules; level < RuleLevelCount; ++level) {
            const RuleList& list = rules->levels[level];
            for (UINT i = 0; i < list.count; ++i) {
                UINT setBy = level != UserRules ? IDS_PROGRAMS_SET_BY_IT
                             : UserRuleOverridden(*rules, i, ActivePolicy.mode) ? IDS_PROGRAMS_OVERRIDDEN
                                                                                 : IDS_PROGRAMS_SET_BY_USER;
                AddListLine(ListedCount, list.rules[i].name, list.rules[i].mode, setBy, language);
                if (level == chosenLevel && lstrcmpiW(list.rules[i].name, chosenName) == 0) {
                    LVITEMW state = {};
                    state.stateMask = state.state = LVIS_SELECTED | LVIS_FOCUSED;
                    SendMessageW(List, LVM_SETITEMSTATE, ListedCount, reinterpret_cast<LPARAM>(&state));
                }
                Listed[ListedCount++] = {RuleLevel(level), i};
            }
        }
    }
    ShowPolicyNote(language);
    UpdateRemoveButton();
}

// The user's rule on the selected line; IT's cannot be changed here.
static bool SelectedUserRule(const ProgramRule** rule)
{
    int line = int(SendMessageW(List, LVM_GETNEXTITEM, WPARAM(-1), LVNI_SELECTED));
    if (line < 0 || line >= ListedCount || !RulesInForce || Listed[line].level != UserRules)
        return false;
    const RuleList& list = RulesInForce->levels[UserRules];
    if (Listed[line].index >= list.count)
        return false;
    *rule = &list.rules[Listed[line].index];
    return true;
}

static void AddProgramChoice(const WCHAR* name)
{
    if (!name[0] || SendMessageW(ProgramBox, CB_FINDSTRINGEXACT, WPARAM(-1), reinterpret_cast<LPARAM>(name)) != CB_ERR)
        return;
    SendMessageW(ProgramBox, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
}

static const WCHAR* FileNamePart(const WCHAR* path)
{
    const WCHAR* name = path;
    for (const WCHAR* c = path; *c; ++c)
        if (*c == L'\\')
            name = c + 1;
    return name;
}

// Offers each program with a visible window, by file name.
static BOOL CALLBACK OfferWindowProgram(HWND window, LPARAM)
{
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) ||
        (GetWindowLongW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW))
        return TRUE;
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (!processId || processId == GetCurrentProcessId())
        return TRUE;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return TRUE;
    WCHAR path[MAX_PATH];
    DWORD length = MAX_PATH;
    if (QueryFullProcessImageNameW(process, 0, path, &length))
        AddProgramChoice(FileNamePart(path));
    CloseHandle(process);
    return TRUE;
}

static void FillProgramChoices()
{
    SendMessageW(ProgramBox, CB_RESETCONTENT, 0, 0);
    // The program the last press went to, first: the one most likely wanted.
    AddProgramChoice(FileNamePart(LastPressProgram));
    EnumWindows(OfferWindowProgram, 0);
    if (SendMessageW(ProgramBox, CB_GETCOUNT, 0, 0) > 0)
        SendMessageW(ProgramBox, CB_SETCURSEL, 0, 0);
}

static void SayProblem(HWND window, UINT textId)
{
    WCHAR text[256], title[64];
    LoadUiText(textId, text, 256);
    LoadUiText(IDS_PROGRAMS_TITLE, title, 64);
    MessageBoxW(window, text, title, MB_OK | MB_ICONWARNING);
}

static void RulesWritten()
{
    if (ProgramRulesEdited)
        ProgramRulesEdited();
}

static void AddRule(HWND window)
{
    WCHAR name[MAX_PATH + 2];
    GetWindowTextW(ProgramBox, name, MAX_PATH + 2);
    if (!AcceptRuleName(name)) {
        SayProblem(window, IDS_PROGRAMS_BAD_NAME);
        SetFocus(ProgramBox);
        return;
    }
    LONG mode = ModeSpace + LONG(SendMessageW(ModeBox, CB_GETCURSEL, 0, 0));
    // A failed save keeps the window open with what the user chose.
    if (!SaveUserRule(name, mode)) {
        SayProblem(window, IDS_PROGRAMS_SAVE_FAILED);
        return;
    }
    RulesWritten();
}

static void RemoveRule(HWND window)
{
    const ProgramRule* rule;
    if (!SelectedUserRule(&rule))
        return;
    WCHAR name[MAX_PATH];
    lstrcpynW(name, rule->name, MAX_PATH);
    if (!RemoveUserRule(name)) {
        SayProblem(window, IDS_PROGRAMS_SAVE_FAILED);
        return;
    }
    RulesWritten();
}

// A user's rule chosen in the list is shown in the choosers, where Add
// changes its mode.
static void FollowListSelection()
{
    const ProgramRule* rule;
    if (SelectedUserRule(&rule)) {
        SetWindowTextW(ProgramBox, rule->name);
        SendMessageW(ModeBox, CB_SETCURSEL, WPARAM(rule->mode - ModeSpace), 0);
    }
    UpdateRemoveButton();
}

typedef BOOL(WINAPI* GetOpenFileNameFn)(OPENFILENAMEW*);

// The file dialog's library is no KnownDLL: taken from the system folder.
static void BrowseForProgram(HWND window)
{
    static GetOpenFileNameFn getOpenFileName;
    if (!getOpenFileName) {
        HMODULE library = LoadSystemLibrary("comdlg32.dll");
        getOpenFileName = library ? reinterpret_cast<GetOpenFileNameFn>(
                                        reinterpret_cast<void*>(GetProcAddress(library, "GetOpenFileNameW")))
                                  : NULL;
        if (!getOpenFileName)
            return;
    }
    WCHAR filter[128], title[64], file[MAX_PATH] = L"";
    int length = LoadUiText(IDS_PROGRAMS_BROWSE_FILTER, filter, 100);
    // The filter is pairs of texts, each ended by a NUL, then one more.
    lstrcpyW(filter + length + 1, L"*.exe");
    filter[length + 1 + 5 + 1] = 0;
    LoadUiText(IDS_PROGRAMS_BROWSE_TITLE, title, 64);
    OPENFILENAMEW open = {};
    open.lStructSize = sizeof(open);
    open.hwndOwner = window;
    open.lpstrFilter = filter;
    open.lpstrFile = file;
    open.nMaxFile = MAX_PATH;
    open.lpstrTitle = title;
    open.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
    if (getOpenFileName(&open))
        SetWindowTextW(ProgramBox, file);
}

static LRESULT OnProgramsCommand(HWND window, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case IDOK:
    case IDC_PROGRAMS_ADD: AddRule(window); return 0;
    case IDC_PROGRAMS_REMOVE: RemoveRule(window); return 0;
    case IDC_PROGRAMS_BROWSE: BrowseForProgram(window); return 0;
    case IDCANCEL:
    case IDC_PROGRAMS_CLOSE: ShowWindow(window, SW_HIDE); return 0;
    }
    return DefWindowProcW(window, WM_COMMAND, wParam, lParam);
}

static LRESULT OnProgramsNotify(HWND window, const NMHDR* header)
{
    if (header->hwndFrom != List)
        return 0;
    if (header->code == LVN_ITEMCHANGED)
        FollowListSelection();
    else if (header->code == LVN_KEYDOWN && reinterpret_cast<const NMLVKEYDOWN*>(header)->wVKey == VK_DELETE)
        RemoveRule(window);
    return 0;
}

static void OnProgramsDpiChanged(HWND window, UINT dpi, const RECT* suggested)
{
    if (dpi == 0 || !suggested)
        return;
    SetWindowPos(window, NULL, suggested->left, suggested->top, suggested->right - suggested->left,
                 suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
    LayOutPrograms(dpi, TRUE);
}

static LRESULT CALLBACK ProgramsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        CreateProgramsControls(window);
        return 0;
    case WM_COMMAND:
        return OnProgramsCommand(window, wParam, lParam);
    case WM_NOTIFY:
        return OnProgramsNotify(window, reinterpret_cast<const NMHDR*>(lParam));
    case WM_DPICHANGED:
        OnProgramsDpiChanged(window, HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CLOSE:
        // Lives as long as the program; closing only hides it.
        ShowWindow(window, SW_HIDE);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

SIZE ProgramsWindowSize(UINT dpi)
{
    return WindowSizeForDpi(ProgramsStyle, ProgramsWidth, ProgramsHeight, dpi);
}

HWND CreateProgramsWindow(HINSTANCE instance)
{
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = ProgramsWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_LARGE));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(IDI_SMALL));
    windowClass.hCursor = LoadCursorW(NULL, MAKEINTRESOURCEW(32512));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    windowClass.lpszClassName = ProgramsClassName;
    RegisterClassExW(&windowClass);
    WCHAR title[64];
    LoadUiText(IDS_PROGRAMS_TITLE, title, 64);
    UINT dpi = ScreenDpi();
    RECT rect = CentredOnScreen(ProgramsWindowSize(dpi));
    HWND window = CreateWindowExW(WS_EX_CONTROLPARENT, ProgramsClassName, title, ProgramsStyle, rect.left, rect.top,
                                  rect.right - rect.left, rect.bottom - rect.top, NULL, NULL, instance, NULL);
    if (window && WindowDpi(window) != dpi) {
        rect = CentredOnScreen(ProgramsWindowSize(WindowDpi(window)));
        SetWindowPos(window, NULL, rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ProgramsWindowHandle = window;
    return window;
}

void ShowProgramsWindow()
{
    HWND window = ProgramsWindowHandle;
    if (!window)
        return;
    if (!IsWindowVisible(window))
        ShowProgramsTexts(window);
    FillRuleList();
    FillProgramChoices();
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    if (!IsChild(window, GetFocus()))
        SetFocus(List);
}

void ShowProgramRulesInWindow()
{
    if (ProgramsWindowHandle && IsWindowVisible(ProgramsWindowHandle))
        FillRuleList();
}

void NoteLastPressProgram(const WCHAR* imagePath)
{
    if (imagePath[0])
        lstrcpynW(LastPressProgram, imagePath, MAX_PATH);
}

void OpenProgramsWindow(HINSTANCE instance)
{
    // Made on its first opening, as the settings window is; never a second.
    if (!ProgramsWindowHandle && !CreateProgramsWindow(instance))
        return;
    ShowProgramsWindow();
}
