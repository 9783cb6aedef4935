#pragma once
// The implicit connections: one per distinct table folder (letter case
// ignored), made by the first open in that folder and kept until the
// process ends.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

class TDynamicConnList {
public:
    static TDynamicConnList& Instance();

    // The connection of the folder, made on first use; handles start at 1.
    int Connect(std::string_view folder);
    size_t Count() const;

private:
    struct TDynamicConn {
        std::string folder;
        int handle;
    };
    mutable std::mutex mutex_;
    std::vector<TDynamicConn> conns_;
};
