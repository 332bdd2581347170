// Interposes pthread_create for this test program only: everything else passes on to the real
// function.
#include "thread_refusal.h"

#include <atomic>
#include <cerrno>

#include <dlfcn.h>
#include <pthread.h>

namespace {
std::atomic<bool> g_threadsRefused{false};
} // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*start)(void*), void* argument) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (g_threadsRefused.load()) return EAGAIN;
    return real(thread, attributes, start, argument);
}

namespace quill::test {

ThreadsRefused::ThreadsRefused() {
    g_threadsRefused = true;
}

ThreadsRefused::~ThreadsRefused() {
    g_threadsRefused = false;
}

} // namespace quill::test
