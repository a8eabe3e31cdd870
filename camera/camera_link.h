// What Lumo2 and its camera process share: one block of memory and a pipe of
// records from the camera process. Both reach the camera process by handle
// inheritance alone, so nothing has a name another process could open.
#pragma once
#include "camera/button_source.h"

// Mapped by both. Lumo2 writes the requests and the values it asks for; the
// camera process writes the clock of its call under way and the extension
// unit's button as it last saw it, which the next camera process starts from,
// so that a press held across a restart is not taken twice.
struct CameraLinkBlock {
    volatile LONG requests;  // CameraLinkRequest bits, interlocked both ways
    volatile LONG sessionConnected;
    volatile LONG pollPeriodMs;
    volatile LONG callStartedAt;  // the camera thread's clock | 1, 0 between calls
    volatile LONG callKind;
    volatile LONG buttonDown;
    // The integrity level Lumo2 made the camera process's token at (medium
    // when Lumo2 runs elevated), 0 when it runs with Lumo2's own: its
    // library is looked for as a start at that level would look.
    volatile LONG madeAtLevel;
};
enum CameraLinkRequest : LONG { LinkReconnect = 1, LinkStop = 2 };

// One record down the pipe. Every record has this one size, so that the
// reader never loses its place, whatever a record holds.
enum CameraRecordKind : DWORD { RecordConnected = 1, RecordPressed = 2 };
struct CameraRecord {
    DWORD size;
    DWORD kind;
    CameraView view;  // RecordConnected only; its joystick is Lumo2's to say
};

// Whether a record read from the camera process may be acted on: its size
// and kind ours, a connect's route known and its texts ended. Nothing in a
// record chooses keys or modes.
bool CameraRecordValid(const CameraRecord& record);

// The handles a camera process is started with, as numbers on its command
// line ("/camera" and five numbers).
struct CameraLinkHandles {
    HANDLE block;      // file mapping of a CameraLinkBlock
    HANDLE wake;       // set by Lumo2 after a request
    HANDLE records;    // write end of the record pipe
    HANDLE recordsIn;  // set by the camera process after each record
    HANDLE parent;     // Lumo2 itself, to end with it
};
bool IsCameraCommand(const WCHAR* commandLine, CameraLinkHandles* handles);
// The command line for exe (quoted); false when it does not fit.
bool ComposeCameraCommand(WCHAR* line, int size, const WCHAR* exe, const CameraLinkHandles& handles);

// To the tray window: the camera process ended; wParam a CameraProcessEnd,
// lParam the wait in ms before the next one starts.
const UINT WM_CAMERA_PROCESS_ENDED = WM_APP + 121;
enum CameraProcessEnd { CameraProcessCrashed, CameraProcessHung, CameraProcessNotStarted };
