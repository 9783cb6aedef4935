#include "data/table/DynamicConnList.h"

#include "data/values/TextCase.h"

TDynamicConnList& TDynamicConnList::Instance() {
    static TDynamicConnList list;
    return list;
}

int TDynamicConnList::Connect(std::string_view folder) {
    std::lock_guard lock(mutex_);
    for (const TDynamicConn& c : conns_)
        if (SameTextIgnoringCase(c.folder, folder)) return c.handle;
    const int handle = static_cast<int>(conns_.size()) + 1;
    conns_.push_back({std::string(folder), handle});
    return handle;
}

size_t TDynamicConnList::Count() const {
    std::lock_guard lock(mutex_);
    return conns_.size();
}
