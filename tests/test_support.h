// Helpers shared by every test target: temporary folders, sample paths, file bytes, and running
// the independent command-line tools the tests compare against.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quill::test {

/// A fresh directory under the temp directory, removed with everything in it on destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    /// The directory, with trailing "/".
    [[nodiscard]] const std::string& path() const { return m_path; }
    /// path() + name
    [[nodiscard]] std::string file(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

/// A path inside tests/data/thirdparty (third-party samples, with their licence notes).
[[nodiscard]] std::string testdata(const std::string& relative);
/// A path inside tests/data (the project's own fixtures).
[[nodiscard]] std::string fixture(const std::string& relative);

[[nodiscard]] std::vector<std::uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
void writeText(const std::string& path, const std::string& text);

/// Runs a shell command; returns its exit status and, when `output` is given, its stdout.
int runCommand(const std::string& command, std::string* output = nullptr);
/// True when an executable exists at this absolute path (e.g. "/usr/bin/convert").
[[nodiscard]] bool haveTool(const std::string& absolutePath);
/// Quotes a path for the shell.
[[nodiscard]] std::string shellQuote(const std::string& text);

} // namespace quill::test
