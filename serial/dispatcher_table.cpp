#include "serial/dispatcher_table.h"

namespace linograf::serial {

DispatcherTable& DispatcherTable::Instance() {
    static DispatcherTable table;
    return table;
}

int DispatcherTable::Enter(TNlkBaseDispatcher* dispatcher) {
    std::lock_guard lock(mutex_);
    for (size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i] == nullptr) {
            entries_[i] = dispatcher;
            return static_cast<int>(i);
        }
    }
    entries_.push_back(dispatcher);
    return static_cast<int>(entries_.size() - 1);
}

void DispatcherTable::Leave(int handle) {
    std::lock_guard lock(mutex_);
    if (handle < 0 || static_cast<size_t>(handle) >= entries_.size()) return;
    entries_[handle] = nullptr;
    while (!entries_.empty() && entries_.back() == nullptr) entries_.pop_back();
}

TNlkBaseDispatcher* DispatcherTable::At(int handle) const {
    std::lock_guard lock(mutex_);
    if (handle < 0 || static_cast<size_t>(handle) >= entries_.size()) return nullptr;
    return entries_[handle];
}

size_t DispatcherTable::Size() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace linograf::serial
