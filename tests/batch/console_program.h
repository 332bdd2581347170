// The built program run as a user runs it from a shell: a copy in its own folder (so it is
// portable there), with HOME, the XDG folders and TMPDIR pointed into a temporary directory.
#pragma once

#include "settings/preset.h"
#include "settings/setting_files.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace quill::test {

struct ProgramRun {
    int status = -1;
    std::string out; ///< standard output
};

class ConsoleProgram {
public:
    ConsoleProgram() {
        for (const char* sub : {"bin", "in", "out", "home", "home/.config", "run"})
            std::filesystem::create_directories(root() + sub);
        std::filesystem::copy_file(std::string(QUILL_BINARY_DIR) + "/src/app/quillmere",
                                   programDir() + "quillmere");
        std::filesystem::permissions(programDir() + "quillmere", std::filesystem::perms::owner_all);
    }

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
    [[nodiscard]] settings::Preset basePreset() const {
        settings::Preset preset = settings::defaultPreset(0, "Test");
        preset.outputDirPattern = out();
        return preset;
    }
    /// Writes the portable presets file next to the program with these presets (0..n-1).
    void setPresets(const std::vector<settings::Preset>& presets, int current = 0) {
        settings::PresetList list;
        for (std::size_t i = 0; i < presets.size(); ++i) {
            list.presets.push_back(presets[i]);
            list.presets.back().index = std::uint8_t(i);
        }
        list.currentIndex = std::size_t(current);
        writeBytes(programDir() + "Quillmere_Presets", settings::serializePresets(list));
    }
    /// Writes the presets file with basePreset() changed by `edit` as its only preset.
    void usePreset(const std::function<void(settings::Preset&)>& edit) {
        settings::Preset preset = basePreset();
        edit(preset);
        setPresets({preset});
    }
    /// Copies a file of tests/data/thirdparty into in/ (under `as` when given, its folders made);
    /// returns its path.
    std::string addSample(const std::string& testdataPath, const std::string& as = {}) {
        const std::string target = in(as.empty() ? platform::filePart(testdataPath) : as);
        std::filesystem::create_directories(platform::directoryPart(target));
        std::filesystem::copy_file(testdata(testdataPath), target,
                                   std::filesystem::copy_options::overwrite_existing);
        return target;
    }
    /// The error log next to the program ("" when there is none).
    [[nodiscard]] std::string errorLog() const {
        const auto bytes = readBytes(programDir() + "Quillmere_Errorlog.txt");
        return {bytes.begin(), bytes.end()};
    }

    /// The command line run() uses, for tests that start the program themselves; it starts in
    /// `folder` (default: the scratch root).
    [[nodiscard]] std::string command(const std::vector<std::string>& args,
                                      const std::string& folder = {}) const {
        std::string cmd = "cd " + shellQuote(folder.empty() ? root() : folder) +
                          " && HOME=" + shellQuote(root() + "home") +
                          " XDG_CONFIG_HOME=" + shellQuote(root() + "home/.config") +
                          " XDG_RUNTIME_DIR=" + shellQuote(root() + "run") +
                          " TMPDIR=" + shellQuote(root() + "run") + " TZ=UTC LANG=C.UTF-8 " +
                          shellQuote(programDir() + "quillmere");
        for (const auto& a : args)
            cmd += " " + shellQuote(a);
        return cmd;
    }
    /// Starts the program with these arguments in the background, with no shell in between, so
    /// that a signal sent to the returned process reaches the program itself. Its standard
    /// output goes to the file `stdoutPath`; `environment` adds or replaces variables
    /// ("NAME=value"). Returns the process id (-1 when it could not be started).
    pid_t start(const std::vector<std::string>& args, const std::string& stdoutPath,
                const std::vector<std::string>& environment = {}) const {
        std::vector<std::string> variables;
        for (char** e = environ; *e; ++e)
            variables.emplace_back(*e);
        std::vector<std::string> overrides = {"HOME=" + root() + "home",
                                              "XDG_CONFIG_HOME=" + root() + "home/.config",
                                              "XDG_RUNTIME_DIR=" + root() + "run",
                                              "TMPDIR=" + root() + "run",
                                              "TZ=UTC",
                                              "LANG=C.UTF-8"};
        overrides.insert(overrides.end(), environment.begin(), environment.end());
        for (const std::string& set : overrides) {
            const std::string name = set.substr(0, set.find('=') + 1);
            std::erase_if(variables, [&](const std::string& v) { return v.starts_with(name); });
            variables.push_back(set);
        }
        const std::string program = programDir() + "quillmere";
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        std::vector<char*> envp;
        for (std::string& v : variables)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        // Everything the child needs is made before the fork: after it, only calls that are safe
        // between fork and exec.
        const pid_t pid = ::fork();
        if (pid != 0) return pid;
        const int out = ::open(stdoutPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int null = ::open("/dev/null", O_WRONLY);
        if (out < 0 || null < 0 || ::dup2(out, 1) < 0 || ::dup2(null, 2) < 0 ||
            ::chdir(root().c_str()) != 0)
            ::_exit(127);
        ::execve(program.c_str(), argv.data(), envp.data());
        ::_exit(127);
    }

    /// Runs the program with these arguments (each is shell-quoted).
    ProgramRun run(const std::vector<std::string>& args) const {
        ProgramRun result;
        result.status = runCommand(command(args) + " 2>/dev/null", &result.out);
        return result;
    }

private:
    TempDir m_dir;
};

} // namespace quill::test
