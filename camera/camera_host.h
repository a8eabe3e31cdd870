// Lumo2's side of its camera process: started from Lumo2's own exe with
// "/camera", in a job that ends it with Lumo2, never with administrator
// rights, and started again after a crash or a hang, with a growing pause.
//
// The camera thread owns all of it: every function here but the seams runs
// on that thread (StartCameraHost just before the thread starts).
#pragma once
#include "camera/camera_link.h"

// Makes the shared block, the events and the job and starts the first camera
// process. False when it cannot (the policy asks for the camera inside Lumo2,
// the exe is gone, CreateProcess fails): the camera then runs in Lumo2.
bool StartCameraHost(HWND answers);
CameraLinkBlock* CameraHostBlock();
// Asks the running camera process for requests (LinkReconnect, LinkStop;
// 0 only wakes it to read the block again).
void AskCameraProcess(LONG requests);
// The handles the camera thread waits on besides its own (the records'
// event, the process while one runs), and how long it may wait.
DWORD CameraHostWaitHandles(HANDLE* handles);
DWORD CameraHostTimeout(bool hangDeclared);
// After a wake: takes the records that came (each valid one to take), sees
// a process that ended, ends one whose call the watchdog declared hung and
// that has passed the deadline (callPastDeadline), and starts the next one
// when it is due. False when the next
// one could not be started (the exe gone with an upgrade, CreateProcess
// failing): everything of the host is given back, and the camera thread
// runs the camera itself from then on.
bool ServeCameraHost(void (*take)(const CameraRecord&), bool callPastDeadline);
// At the end: asks the camera process to give the camera back and end,
// waits up to waitMs, then ends it.
void EndCameraHost(DWORD waitMs);
// The level the camera process runs at, for the log and the report.
const char* CameraProcessLevel();

// Set by Lumo2's WinMain, which answers "/camera" (and by the bench that
// plays it): any other program linking this code keeps the camera inside,
// since its own exe cannot be a camera process.
extern bool CameraProcessWanted;

// Seams. Whether Lumo2 runs elevated, so that the camera process must not
// (Wine runs every process elevated); the exe to start; the pause before
// the nth restart in a row.
typedef bool (*CameraHostElevatedFn)();
extern CameraHostElevatedFn CameraHostElevated;
typedef DWORD (*CameraRestartDelayFn)(int restartsInARow);
extern CameraRestartDelayFn CameraRestartDelay;
DWORD CameraRestartDelayOfProgram(int restartsInARow);
// Whether a policy asks for the camera to run inside Lumo2 (PolicyCameraProcessName
// 0 under the policy key).
bool CameraProcessForbiddenByPolicy();
// The pause after a run of restarts is forgotten after this much health.
const DWORD CameraHealthyAfterMs = 60000;
