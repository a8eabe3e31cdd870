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
