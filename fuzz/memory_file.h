// An in-memory file holding the fuzz input, for decoders that read from an open file.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "toolkit/platform/platform.h"

namespace quill::fuzz {

/// A memory-backed regular file with `bytes` in it; closed when destroyed.
class MemoryFile {
public:
    explicit MemoryFile(std::span<const std::uint8_t> bytes) : m_fd(memfd_create("input", 0)) {
        if (m_fd >= 0 && write(m_fd, bytes.data(), bytes.size()) != ssize_t(bytes.size())) {
            close(m_fd);
            m_fd = -1;
        }
    }
    ~MemoryFile() {
        if (m_fd >= 0) close(m_fd);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    /// A path that names the file, for code that opens files by path; empty when it failed.
    [[nodiscard]] std::string path() const {
        return m_fd < 0 ? std::string() : "/proc/self/fd/" + std::to_string(m_fd);
    }

    /// The file opened anew for reading, as the loader opens files.
    [[nodiscard]] std::optional<platform::InputFile> open() const {
        if (m_fd < 0) return std::nullopt;
        return platform::InputFile::open(path());
    }

private:
    int m_fd = -1;
};

} // namespace quill::fuzz
