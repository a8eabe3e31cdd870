// The mandatory integrity level of a process token. Below the camera and the
// program alike: the library search trusts fewer folders in an elevated
// process, and a start as administrator takes over from an ordinary copy.
#pragma once
#include <windows.h>

// The level RID of the token (SECURITY_MANDATORY_HIGH_RID for an elevated
// administrator), or 0 when it cannot be read.
DWORD TokenIntegrity(HANDLE token);
// This process's own level, or 0.
DWORD LookUpOwnIntegrityOfSystem();
// The level the library search goes by: this process's own, but at least
// High while its token is elevated (an elevated token with a lowered level
// still has an administrator's rights), or 0 when neither can be read.
DWORD LookUpOwnSearchLevelOfSystem();
