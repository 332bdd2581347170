// The built program run as a user runs it from a shell: a copy in its own folder (so it is
// portable there), with HOME, the XDG folders and TMPDIR pointed into a temporary directory.
#pragma once

#include "settings/preset.h"
#include "test_support.h"

#include <string>
#include <vector>

namespace quill::test {

struct ProgramRun {
    int status = -1;
    std::string out; ///< standard output
};

class ConsoleProgram {
public:
    ConsoleProgram();

    /// The scratch root, with trailing "/"; `in/` holds sources, `out/` is free for outputs.
    [[nodiscard]] const std::string& root() const { return m_dir.path(); }
    [[nodiscard]] std::string in(const std::string& name = {}) const {
        return root() + "in/" + name;
    }
    [[nodiscard]] std::string out(const std::string& name = {}) const {
        return root() + "out/" + name;
    }
    [[nodiscard]] std::string programDir() const { return root() + "bin/"; }

    /// A preset for tests: default preset 0 writing into out/ without other changes.
    [[nodiscard]] settings::Preset basePreset() const;
    /// Writes the portable presets file next to the program with these presets (0..n-1).
    void setPresets(const std::vector<settings::Preset>& presets, int current = 0);
    /// Copies a file of tests/data/thirdparty into in/ (under `as` when given); returns its path.
    std::string addSample(const std::string& testdataPath, const std::string& as = {});

    /// Runs the program with these arguments (each is shell-quoted).
    ProgramRun run(const std::vector<std::string>& args) const;
    /// The command line run() would use, for tests that start the program themselves.
    [[nodiscard]] std::string command(const std::vector<std::string>& args) const;

private:
    TempDir m_dir;
};

} // namespace quill::test
