// Stands in for a Windows tool (schtasks.exe, icacls.exe) that Wine cannot
// run as Windows does: appends the command line it was started with, as
// UTF-8, to the file named by QZ_RECORD_FILE, and succeeds. scripts/test-windows
// puts it in the Wine prefix's system folder while the installer runs, so the
// exact command lines the installer gives are checked.
#include <windows.h>

#include <cstdio>
#include <string>

#include "rtl/WindowsText.h"

int wmain() {
    const wchar_t* file = _wgetenv(L"QZ_RECORD_FILE");
    if (!file) return 1;
    std::FILE* out = _wfopen(file, L"ab");
    if (!out) return 1;
    const std::string line = qz::win::Utf8FromWide(::GetCommandLineW()) + "\n";
    std::fwrite(line.data(), 1, line.size(), out);
    std::fclose(out);
    return 0;
}
