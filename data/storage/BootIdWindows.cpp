#include <windows.h>

#include <cwchar>
#include <string>

#include "data/storage/BootIdSystem.h"

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

}  // namespace

BootId BootIdSystem::read()
{
    BootId b {};
    DWORD count = 0, timeHigh = 0;
    std::wstring guid;
    if (!readMachineGuid(guid)) return b;
    const bool counted = readBootCount(count);
    if (!counted && !readBootTime(count, timeHigh)) return b;
    // Bytes 0-7: the GUID's first half (the text is ASCII; anything else is
    // no digit).
    std::string text;
    for (wchar_t c : guid) text += c < 0x80 ? char(c) : '?';
    if (hexBytes(text, std::span(b).first(8)) < 8) return BootId {};
    // Bytes 8-11: the count, or the boot time's low half; 12-15: the
    // boot time's high half, or "BOOT" beside a count.
    for (int i = 0; i < 4; ++i) b[8 + i] = uint8_t(count >> (8 * i));
    for (int i = 0; i < 4; ++i) b[12 + i] = counted ? uint8_t("BOOT"[i]) : uint8_t(timeHigh >> (8 * i));
    return b;
}

}  // namespace xbase
