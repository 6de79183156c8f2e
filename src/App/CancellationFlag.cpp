#include "App/CancellationFlag.h"

namespace tovani {

void CancellationFlag::cancel() {
    std::lock_guard guard(lock_);
    value_ = true;
}

bool CancellationFlag::isCancelled() const {
    std::lock_guard guard(lock_);
    return value_;
}

}  // namespace tovani
