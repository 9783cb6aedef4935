#include <windows.h>

#include <cwchar>
#include <string>

#include "data/storage/JournalFormat.h"

// Windows counts its boots in the registry (PrefetchParameters\BootId);
// where that count is missing (Wine) the kernel's boot time stands in. The
// machine's own GUID keeps two machines apart when a table lies on a share.
// Neither known means "unknown", and the journal then syncs every update
// before it returns.
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

// The kernel's boot time (100 ns units), from the time-of-day information.
bool readBootTime(DWORD& low, DWORD& high)
{
    struct TimeOfDay {
        LARGE_INTEGER bootTime;
        LARGE_INTEGER currentTime;
        LARGE_INTEGER timeZoneBias;
        ULONG timeZoneId;
        ULONG reserved;
        ULONGLONG bootTimeBias;
        ULONGLONG sleepTimeBias;
    } info {};
    using Query = LONG(WINAPI*)(int, void*, ULONG, ULONG*);
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    auto query = ntdll ? reinterpret_cast<Query>(reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQuerySystemInformation")))
                       : nullptr;
    constexpr int kSystemTimeOfDayInformation = 3;
    if (!query || query(kSystemTimeOfDayInformation, &info, sizeof info, nullptr) < 0 || info.bootTime.QuadPart == 0)
        return false;
    low = info.bootTime.LowPart;
    high = DWORD(info.bootTime.HighPart);
    return true;
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
        DWORD count = 0, timeHigh = 0;
        std::wstring guid;
        if (!readMachineGuid(guid)) return b;
        const bool counted = readBootCount(count);
        if (!counted && !readBootTime(count, timeHigh)) return b;
        size_t n = 0;
        int high = -1;
        for (wchar_t c : guid) {
            const int v = hexDigit(c);
            if (v < 0) continue;
            if (high < 0) {
                high = v;
                continue;
            }
            if (n == 8) break;
            b[n++] = uint8_t(high << 4 | v);
            high = -1;
        }
        if (n != 8) return BootId {};
        // Bytes 8-11: the count, or the boot time's low half; 12-15: the
        // boot time's high half, or "BOOT" beside a count.
        for (int i = 0; i < 4; ++i) b[8 + i] = uint8_t(count >> (8 * i));
        for (int i = 0; i < 4; ++i) b[12 + i] = counted ? uint8_t("BOOT"[i]) : uint8_t(timeHigh >> (8 * i));
        return b;
    }();
    return id;
}

}  // namespace xbase
