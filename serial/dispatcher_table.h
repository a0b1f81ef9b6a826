#pragma once
// The process-wide table of dispatchers. A dispatcher's handle is its index here; trigger messages
// carry the handle in the high 16 bits of lParam and the GUI thread finds the dispatcher by it
// while it holds the table lock for the whole handling, so a dispatcher cannot leave the table
// while one of its messages is being handled.
#include <cstdint>
#include <mutex>
#include <vector>

namespace linograf::serial {

class TNlkBaseDispatcher;

class DispatcherTable {
  public:
    static DispatcherTable& Instance();

    // Takes the lowest empty index, or appends; returns the handle.
    int Enter(TNlkBaseDispatcher* dispatcher);
    // Empties the entry, then drops empty entries from the end.
    void Leave(int handle);
    // The dispatcher at `handle`, or null for an index beyond the table or an empty entry.
    // Call it while holding Lock().
    TNlkBaseDispatcher* At(int handle) const;
    size_t Size() const;
    std::recursive_mutex& Lock() { return mutex_; }

  private:
    mutable std::recursive_mutex mutex_;
    std::vector<TNlkBaseDispatcher*> entries_;
};

}  // namespace linograf::serial
