// Login-file first lines of any bytes: the fields come out no wider than
// their columns, and scrambling round-trips.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "rtl/Exceptions.h"
#include "upload/LoginCrypt.h"
#include "upload/LoginFile.h"
#include "upload/TextFn.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    TFtpLogin login;
    try {
        login = ParseLoginLine(line);
    } catch (const EConvertError&) {
        // options after column 100 that cannot be understood: refused, as meant
        login = ParseLoginLine(line.substr(0, 100));
        if (line.size() <= 100) std::abort();
    }
    if (line.size() > 100) {
        try {
            // what is written is read back the same
            if (ParseLoginOptions(FormatLoginOptions(login.Options)) != login.Options) std::abort();
        } catch (const EConvertError&) {
            std::abort();
        }
    }
    if (login.FtpHost.size() > 20 || login.FtpUser.size() > 20 || login.FtpPassword.size() > 20 ||
        login.RemoteFolder.size() > 40)
        std::abort();
    if (MyEncrypt(MyDecrypt(line)) != line) std::abort();
    const std::string trimmed = TextFn::TrimBlanks(line);
    if (!trimmed.empty() && (static_cast<unsigned char>(trimmed.front()) <= 32 ||
                             static_cast<unsigned char>(trimmed.back()) <= 32))
        std::abort();
    if (size >= 2) {
        const int from = static_cast<int8_t>(data[0]);
        const int count = static_cast<int8_t>(data[1]);
        const std::string cut = TextFn::ColumnCut(line, from, count);
        if (cut.size() > line.size()) std::abort();
        if (TextFn::LastChars(line, from).size() > line.size()) std::abort();
    }
    return 0;
}
