#include "platform/event_log.h"

static HANDLE EventSource;

WORD EventTypeOf(DWORD eventId)
{
    switch (eventId >> 30) {
    case 2:
        return EVENTLOG_WARNING_TYPE;
    case 3:
        return EVENTLOG_ERROR_TYPE;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

BOOL WriteEventEntryOfSystem(HANDLE source, WORD type, DWORD eventId, const char* insert)
{
    const char* strings[1] = {insert};
    return ReportEventA(source, type, 0, eventId, NULL, insert ? 1 : 0, 0, insert ? strings : NULL, NULL);
}

EventWriterFn WriteEventEntry = WriteEventEntryOfSystem;

// Asked at every write, which is rare: an install or uninstall of the
// package while Lumo2 runs is then followed.
static bool EventSourceRegistered()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, EventSourceKeyPath, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void ReportProgramEvent(DWORD eventId, const char* insert)
{
    if (!EventSourceRegistered())
        return;
    if (!EventSource)
        EventSource = RegisterEventSourceA(NULL, "Lumo2");
    if (EventSource)
        WriteEventEntry(EventSource, EventTypeOf(eventId), eventId, insert);
}

void CloseEventSource()
{
    if (EventSource)
        DeregisterEventSource(EventSource);
    EventSource = NULL;
}
