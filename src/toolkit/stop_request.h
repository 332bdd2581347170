// A request to stop long work early. Decoders, encoders and the resampler poll it between rows,
// so that a cancelled run does not wait for a step in flight to finish: the step gives up as if
// it had failed, and the caller, who set the request, knows that it was a stop.
#pragma once

#include <atomic>
#include <cstdint>

namespace quill::toolkit {

/// Makes `flag` (non-zero: stop) the stop request of the calling thread while the scope lives;
/// the request in force before comes back after it. A null flag means nothing may stop the work.
class StopScope {
public:
    explicit StopScope(const std::atomic<std::int32_t>* flag);
    ~StopScope();
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

private:
    const std::atomic<std::int32_t>* m_previous;
};

/// True when the calling thread's long work was asked to stop.
[[nodiscard]] bool stopRequested();

} // namespace quill::toolkit
