#include "camera/camera_link.h"

static bool Ended(const char* text, int size)
{
    for (int i = 0; i < size; ++i)
        if (!text[i])
            return true;
    return false;
}

static bool EndedW(const WCHAR* text, int size)
{
    for (int i = 0; i < size; ++i)
        if (!text[i])
            return true;
    return false;
}

bool CameraRecordValid(const CameraRecord& record)
{
    if (record.size != sizeof(CameraRecord))
        return false;
    if (record.kind == RecordPressed)
        return true;
    if (record.kind != RecordConnected)
        return false;
    const CameraView& view = record.view;
    return view.route >= RouteNone && view.route <= RouteCaptureDriver && Ended(view.name, sizeof(view.name)) &&
           EndedW(view.library, MAX_PATH);
}

static const WCHAR CameraSwitch[] = L"/camera";

static const WCHAR* SkipProgramName(const WCHAR* line)
{
    if (*line == L'"') {
        ++line;
        while (*line && *line != L'"')
            ++line;
        if (*line)
            ++line;
    } else {
        while (*line && *line != L' ' && *line != L'\t')
            ++line;
    }
    while (*line == L' ' || *line == L'\t')
        ++line;
    return line;
}

bool IsCameraCommand(const WCHAR* commandLine, CameraLinkHandles* handles)
{
    const WCHAR* p = SkipProgramName(commandLine);
    const int switchLength = sizeof(CameraSwitch) / sizeof(WCHAR) - 1;
    if (CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, p, switchLength, CameraSwitch, switchLength) != CSTR_EQUAL)
        return false;
    p += switchLength;
    HANDLE* fields[] = {&handles->block, &handles->wake, &handles->records, &handles->recordsIn, &handles->parent};
    for (HANDLE* field : fields) {
        if (*p != L' ')
            return false;
        ++p;
        ULONG_PTR value = 0;
        if (*p < L'0' || *p > L'9')
            return false;
        while (*p >= L'0' && *p <= L'9')
            value = value * 10 + ULONG_PTR(*p++ - L'0');
        *field = reinterpret_cast<HANDLE>(value);
    }
    return *p == 0;
}

bool ComposeCameraCommand(WCHAR* line, int size, const WCHAR* exe, const CameraLinkHandles& handles)
{
    if (lstrlenW(exe) + 80 > size)
        return false;
    wsprintfW(line, L"\"%s\" %s %lu %lu %lu %lu %lu", exe, CameraSwitch, ULONG(ULONG_PTR(handles.block)),
              ULONG(ULONG_PTR(handles.wake)), ULONG(ULONG_PTR(handles.records)),
              ULONG(ULONG_PTR(handles.recordsIn)), ULONG(ULONG_PTR(handles.parent)));
    return true;
}
