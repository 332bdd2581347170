// The built program run as a user runs it from a shell.
#include "console_program.h"

#include "settings/setting_files.h"
#include "toolkit/platform/platform.h"

#include <filesystem>

namespace quill::test {

ConsoleProgram::ConsoleProgram() {
    for (const char* sub : {"bin", "in", "out", "home", "home/.config", "run"})
        std::filesystem::create_directories(root() + sub);
    std::filesystem::copy_file(std::string(QUILL_BINARY_DIR) + "/src/app/quillmere",
                               programDir() + "quillmere");
    std::filesystem::permissions(programDir() + "quillmere", std::filesystem::perms::owner_all);
}

settings::Preset ConsoleProgram::basePreset() const {
    settings::Preset preset = settings::defaultPreset(0, "Test");
    preset.outputDirPattern = root() + "out/";
    return preset;
}

void ConsoleProgram::setPresets(const std::vector<settings::Preset>& presets, int current) {
    settings::PresetList list;
    for (std::size_t i = 0; i < presets.size(); ++i) {
        settings::Preset preset = presets[i];
        preset.index = std::uint8_t(i);
        list.presets.push_back(preset);
    }
    list.currentIndex = std::size_t(current);
    writeBytes(programDir() + "Quillmere_Presets", settings::serializePresets(list));
}

std::string ConsoleProgram::addSample(const std::string& testdataPath, const std::string& as) {
    const std::string target = in(as.empty() ? platform::filePart(testdataPath) : as);
    std::filesystem::copy_file(testdata(testdataPath), target,
                               std::filesystem::copy_options::overwrite_existing);
    return target;
}

std::string ConsoleProgram::command(const std::vector<std::string>& args) const {
    std::string cmd = "cd " + shellQuote(root()) + " && HOME=" + shellQuote(root() + "home") +
                      " XDG_CONFIG_HOME=" + shellQuote(root() + "home/.config") +
                      " XDG_RUNTIME_DIR=" + shellQuote(root() + "run") +
                      " TMPDIR=" + shellQuote(root() + "run") + " TZ=UTC LANG=C.UTF-8 " +
                      shellQuote(programDir() + "quillmere");
    for (const auto& a : args)
        cmd += " " + shellQuote(a);
    return cmd;
}

ProgramRun ConsoleProgram::run(const std::vector<std::string>& args) const {
    ProgramRun result;
    result.status = runCommand(command(args) + " 2>/dev/null", &result.out);
    return result;
}

} // namespace quill::test
