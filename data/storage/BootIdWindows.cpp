#include <windows.h>

#include <cwchar>
#include <string>

#include "data/storage/JournalFormat.h"

// Windows counts its boots in the registry (PrefetchParameters\BootId); the
// machine's own GUID keeps two machines' counts apart when a table lies on
// a share. Either one missing means "unknown", and the journal then syncs
// every update before it returns.
namespace xbase {
namespace {

bool readBootCount(DWORD& count)
{
    DWORD size = sizeof count;
    return ::RegGetValueW(HKEY_LOCAL_MACHINE,
                          L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Memory Management\\PrefetchParameters",
                          L"BootId", RRF_RT_REG_DWORD, nullptr, &count, &size) == ERROR_SUCCESS;
}

bool readMachineGuid(std::wstring& guid)
{
    wchar_t text[64] = {};
    DWORD size = sizeof text;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid", RRF_RT_REG_SZ,
                       nullptr, text, &size) != ERROR_SUCCESS)
        return false;
    guid = text;
    return !guid.empty();
}

int hexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

}  // namespace

const BootId& currentBootId()
{
    static const BootId id = [] {
        BootId b {};
        DWORD count = 0;
        std::wstring guid;
        if (!readBootCount(count) || !readMachineGuid(guid)) return b;
        size_t n = 0;
        int high = -1;
        for (wchar_t c : guid) {
            const int v = hexDigit(c);
            if (v < 0) continue;
            if (high < 0) {
                high = v;
                continue;
            }
            if (n == 12) break;
            b[n++] = uint8_t(high << 4 | v);
            high = -1;
        }
        if (n != 12) return BootId {};
        for (int i = 0; i < 4; ++i) b[12 + i] = uint8_t(count >> (8 * i));
        return b;
    }();
    return id;
}

}  // namespace xbase
