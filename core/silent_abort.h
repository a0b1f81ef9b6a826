#pragma once
// The silent abort: an action that must end without a message throws this; the general error
// handler swallows it.
#include <stdexcept>

namespace linograf {

class EAbort : public std::runtime_error {
  public:
    EAbort() : std::runtime_error("Operation aborted") {}
};

}  // namespace linograf
