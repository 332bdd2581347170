#include "toolkit/stop_request.h"

namespace quill::toolkit {

namespace {
thread_local const std::atomic<std::int32_t>* t_stopFlag = nullptr;
} // namespace

StopScope::StopScope(const std::atomic<std::int32_t>* flag) : m_previous(t_stopFlag) {
    t_stopFlag = flag;
}

StopScope::~StopScope() {
    t_stopFlag = m_previous;
}

bool stopRequested() {
    return t_stopFlag != nullptr && t_stopFlag->load(std::memory_order_relaxed) != 0;
}

} // namespace quill::toolkit
