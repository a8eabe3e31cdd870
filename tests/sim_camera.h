// Drives the stand-in camera from a test: registers simulated capture devices
// with the real system device enumerator and reaches the shared camera state.
#pragma once
#include "standins/sim_state/sim_state.h"
#include <gtest/gtest.h>

class SimCamera {
public:
    SimCamera();
    ~SimCamera();
    // Adds a video input device; slot decides its identity (property 4135).
    void Add(int slot, const char* friendlyName, DWORD flags = 0);
    void Remove(int slot);
    void RemoveAll();
    SimState* State() const { return state_; }
    // Simulated filters of this process not yet released.
    LONG LiveFilters() const;

private:
    HMODULE module_;
    SimState* state_;
};

// The capture driver's TWAIN data-source setting under HKEY_LOCAL_MACHINE.
void SetTwainName(const char* value, const void* data, DWORD size, DWORD type = REG_SZ);
void DeleteTwainNames();
