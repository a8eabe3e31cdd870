// The stand-in camera as the tests drive it: simulated capture devices
// registered with the real system device enumerator, the shared camera
// state, and the camera chip's press latch.
#pragma once
#include "standins/sim_state/sim_state.h"
#include <gtest/gtest.h>
#include <string>

// The first of the camera names the program knows.
const char FirstKnownCameraName[] = "USB 2800 Video";

class SimCamera {
public:
    SimCamera();
    ~SimCamera();
    // Adds a video input device; slot decides its identity (property 4135).
    void Add(int slot, const char* friendlyName = SimCameraName, DWORD flags = 0);
    void Remove(int slot);
    void RemoveAll();
    SimState* State() const { return state_; }
    // Simulated filters of this process not yet released.
    LONG LiveFilters() const;

    // The press latch as the chip shows it.
    BYTE Latch() const { return state_->registers[LatchRegister]; }
    void SetLatch(BYTE value) { state_->registers[LatchRegister] = value; }
    bool Latched() const { return (Latch() & LatchBit) != 0; }
    // Latches one press of the button.
    void LatchPress() { state_->registers[LatchRegister] |= LatchBit; }

    // For a running Lumo2: waits until a poll has taken the latched press
    // (read the latch and cleared it).
    bool WaitTaken(DWORD timeoutMs = 5000);
    // For a running Lumo2: latches a press and waits until a poll has taken
    // it (read the latch and cleared it), then until a later poll has read
    // the register, so that the action of the press has run to its end.
    // False when either does not happen in time.
    bool PressAndWaitTaken(DWORD timeoutMs = 5000);
    // Waits until a poll reads the register after this call; with the latch
    // left set, shows that the program polled but did not take it.
    bool WaitForNextPoll(DWORD timeoutMs = 5000);
    // The same on the extension-unit route: until a poll asks the button.
    bool WaitForNextButtonRead(DWORD timeoutMs = 5000);

    // A camera that stops answering (see SimState::hangMs): the stand-ins'
    // calls block for ms, or until Unhang, in every process; only the next
    // calls ones when calls is above 0. RemoveAll ends it too.
    void Hang(DWORD ms = SimHangForever, LONG calls = 0) { StartSimHang(state_, ms, calls); }
    void Unhang() { EndSimHang(state_); }
    // Calls blocked in the stand-ins right now, and ever, in any process.
    LONG HangingCalls() const { return state_->callsHanging; }
    LONG HungCalls() const { return state_->callsHung; }
    // Waits until at least count calls are blocked at once.
    bool WaitHanging(LONG count = 1, DWORD timeoutMs = 5000);

private:
    HMODULE module_;
    SimState* state_;
};

// Runs camsim.exe from beside the test with the arguments, as a user would;
// its exit code, or -1 when it did not run or end within 10 s.
DWORD RunCamsim(const std::string& arguments);

// The capture driver's TWAIN data-source setting under HKEY_LOCAL_MACHINE.
void SetTwainName(const char* value, const void* data, DWORD size, DWORD type = REG_SZ);
void DeleteTwainNames();
