// windowtext CLASS: prints the text of the edit control inside the first
// top-level window of that class, for showing what an application received.
// windowtext CLASS exists: whether a top-level window of that class exists.
#include <windows.h>
#include <stdio.h>
#include <string.h>

int main(int argc, char** argv)
{
    if (argc < 2) {
        fprintf(stderr, "usage: windowtext CLASS\n");
        return 2;
    }
    HWND top = FindWindowA(argv[1], NULL);
    if (argc > 2 && strcmp(argv[2], "exists") == 0)
        return top ? 0 : 1;
    HWND edit = top ? FindWindowExA(top, NULL, "Edit", NULL) : NULL;
    if (!edit) {
        fprintf(stderr, "windowtext: no %s window with an edit control\n", argv[1]);
        return 1;
    }
    static char text[65536];
    SendMessageA(edit, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text));
    puts(text);
    return 0;
}
