#include "data/table/DbfSettings.h"

#include <atomic>
#include <cctype>
#include <mutex>

#include "data/values/DateTime.h"

namespace {

std::mutex gInstanceMutex;
bool gInstanceExists = false;
std::atomic<bool> gShowDeleted{false};

constexpr size_t kMaxDateFormatLength = 12;

bool IsDateLetter(char c) {
    const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u == 'C' || u == 'Y' || u == 'M' || u == 'D';
}

}  // namespace

bool EngineShowsDeleted() { return gShowDeleted.load(); }

TDbfSettings::TDbfSettings() {
    {
        std::lock_guard lock(gInstanceMutex);
        if (gInstanceExists) throw DbfSettingsError("Only one DbfSettings component is allowed per application");
        gInstanceExists = true;
    }
    // The engine starts from the system's date format; ours is fixed below.
    dateFormat_ = "MM/dd/ccyy";
    previousShortDateFormat_ = ShortDateFormat();
    previousDateSeparator_ = DateSeparator();
    gShowDeleted = showDeleted_;
}

TDbfSettings::~TDbfSettings() {
    std::lock_guard lock(gInstanceMutex);
    gInstanceExists = false;
}

void TDbfSettings::SetDateFormat(std::string_view format) {
    std::string kept(format.empty() ? std::string_view("MM/dd/ccyy") : format);
    if (kept.size() > kMaxDateFormatLength) kept.resize(kMaxDateFormatLength);
    dateFormat_ = kept;

    std::string hostFormat = kept;
    for (char& c : hostFormat) {
        const char u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (u == 'C' || u == 'Y') c = 'y';
    }
    char separator = DateSeparator();
    for (char c : kept)
        if (!IsDateLetter(c)) separator = c;
    previousShortDateFormat_ = ShortDateFormat();
    previousDateSeparator_ = DateSeparator();
    SetShortDateFormat(setHostDate_ ? std::string_view(hostFormat) : std::string_view(previousShortDateFormat_),
                       separator);
}

void TDbfSettings::SetNumDecimals(int decimals) { numDecimals_ = decimals; }

void TDbfSettings::SetSetHostDate(bool on) {
    if (setHostDate_ && !on) SetShortDateFormat(previousShortDateFormat_, DateSeparator());
    setHostDate_ = on;
}

void TDbfSettings::SetShowDeleted(bool show) {
    showDeleted_ = show;
    gShowDeleted = show;
}

void TDbfSettings::SetDbfServerTypes(TDbfServerTypes types) {
    if ((types & (stRemote | stLocal | stInternet)) == 0)
        throw DbfSettingsError("At least one server type must be selected.");
    serverTypes_ = types & (stRemote | stLocal | stInternet);
}

void TDbfSettings::SetNumCachedTables(int count) {
    if (count < 0) throw DbfSettingsError("NumCachedTables value must be greater than zero.");
    numCachedTables_ = count;
}

void TDbfSettings::SetNumCachedCursors(int count) {
    if (count < 0) throw DbfSettingsError("NumCachedCursors value must be greater than zero.");
    numCachedCursors_ = count;
}

void TDbfSettings::ApplyStoredValues() {
    SetNumCachedCursors(25);
    SetDateFormat("MM/DD/yy");
    SetNumDecimals(2);
    SetSetHostDate(true);
    SetShowDeleted(false);
    SetDbfServerTypes(stLocal);
    SetNumCachedTables(0);
}
