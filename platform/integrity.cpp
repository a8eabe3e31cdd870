#include "platform/integrity.h"

DWORD TokenIntegrity(HANDLE token)
{
    // DWORDs, so the label and the SID behind it are aligned as required.
    DWORD buffer[16];
    DWORD size = 0;
    if (!GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size))
        return 0;
    PSID sid = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
    UCHAR count = *GetSidSubAuthorityCount(sid);
    if (count == 0)
        return 0;
    return *GetSidSubAuthority(sid, count - 1);
}

DWORD LookUpOwnIntegrityOfSystem()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 0;
    DWORD integrity = TokenIntegrity(token);
    CloseHandle(token);
    return integrity;
}

DWORD LookUpOwnSearchLevelOfSystem()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return 0;
    DWORD level = TokenIntegrity(token);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    if (GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size) &&
        elevation.TokenIsElevated && level < SECURITY_MANDATORY_HIGH_RID)
        level = SECURITY_MANDATORY_HIGH_RID;
    CloseHandle(token);
    return level;
}
