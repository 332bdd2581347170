// Starting a thread fails, in the tests of this folder, while a ThreadsRefused lives: as it does
// when the system has no threads left.
#pragma once

namespace quill::test {

class ThreadsRefused {
public:
    ThreadsRefused();
    ~ThreadsRefused();
    ThreadsRefused(const ThreadsRefused&) = delete;
    ThreadsRefused& operator=(const ThreadsRefused&) = delete;
};

} // namespace quill::test
