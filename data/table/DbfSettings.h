#pragma once
// Process-wide settings of the table engine: date format, default decimals,
// deleted-record visibility, server types and cache sizes. Only one object
// may exist per process; applying the date format also installs the
// program-wide short date format.
#include <string>
#include <string_view>

#include "rtl/Exceptions.h"

// An engine failure reported by the settings object.
class DbfError : public Exception {
public:
    using Exception::Exception;
};

// A value the settings object refuses.
class DbfSettingsError : public DbfError {
public:
    using DbfError::DbfError;
};

enum TDbfServerType : unsigned { stRemote = 2, stLocal = 1, stInternet = 4 };
using TDbfServerTypes = unsigned;   // set of TDbfServerType bits

class TDbfSettings {
public:
    TDbfSettings();   // DbfSettingsError when another object exists
    ~TDbfSettings();
    TDbfSettings(const TDbfSettings&) = delete;
    TDbfSettings& operator=(const TDbfSettings&) = delete;

    void SetDateFormat(std::string_view format);
    const std::string& DateFormat() const { return dateFormat_; }
    void SetNumDecimals(int decimals);
    int NumDecimals() const { return numDecimals_; }
    void SetSetHostDate(bool on);
    bool SetHostDate() const { return setHostDate_; }
    void SetShowDeleted(bool show);
    bool ShowDeleted() const { return showDeleted_; }
    void SetDbfServerTypes(TDbfServerTypes types);
    TDbfServerTypes DbfServerTypes() const { return serverTypes_; }
    void SetNumCachedTables(int count);
    int NumCachedTables() const { return numCachedTables_; }
    void SetNumCachedCursors(int count);
    int NumCachedCursors() const { return numCachedCursors_; }

    // The stored values of the main window's settings object, in order.
    void ApplyStoredValues();

private:
    std::string dateFormat_;
    std::string previousShortDateFormat_;
    char previousDateSeparator_ = '/';
    int numDecimals_ = 2;
    bool setHostDate_ = true;
    bool showDeleted_ = false;
    TDbfServerTypes serverTypes_ = stRemote | stInternet;
    int numCachedTables_ = 0;
    int numCachedCursors_ = 0;
};

// Whether tables show records marked deleted (false unless a settings object
// says otherwise). Read by every table at navigation time.
bool EngineShowsDeleted();
