#include "local_system.h"

#include <vector>

bool IsLocalSystemSid(PSID sid)
{
    return sid && IsValidSid(sid) && IsWellKnownSid(sid, WinLocalSystemSid);
}

bool RunsAsLocalSystem()
{
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    const bool read = size && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    return read && IsLocalSystemSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}
