#include "settings/ui_text.h"

HMODULE UiTextModule;

int LoadUiText(UINT id, WCHAR* buffer, int size)
{
    if (size <= 0)
        return 0;
    buffer[0] = 0;
    int length = LoadStringW(UiTextModule ? UiTextModule : GetModuleHandleW(NULL), id, buffer, size);
    if (length <= 0)
        buffer[0] = 0;
    return length > 0 ? length : 0;
}
