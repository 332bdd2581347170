// Runs one phase of a batch (preparation or processing) on a worker thread of lower priority.
#pragma once

#include "toolkit/platform/platform.h"

#include <system_error>
#include <thread>

namespace quill::batch {

/// Runs `body` on a thread of lower priority and waits for it; false when no thread could be
/// started. The run driver starts each of its phases through this.
template <typename Body> [[nodiscard]] bool runOnWorker(Body&& body) {
    try {
        std::thread worker([&body] {
            platform::lowerCurrentThreadPriority();
            body();
        });
        worker.join();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

} // namespace quill::batch
