// The program as users start it: a copy of the built binary in its own folder, with HOME and the
// XDG folders pointed at temporary directories.
#pragma once

#include "settings/language_pack.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace quill::app {

struct RunResult {
    int status = -1;
    std::string out, err;
};

class Program : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(settings::loadProgramInfo());
        ASSERT_TRUE(settings::loadUiTexts(settings::kEnglishLanguage));
        const std::string built = std::string(QUILL_BINARY_DIR) + "/src/app/quillmere";
        ASSERT_TRUE(platform::isRegularFile(built)) << built;
        for (const char* folder : {"bin", "home", "runtime", "work"})
            ASSERT_TRUE(platform::createDirectory(m_root.path() + folder));
        ASSERT_TRUE(platform::copyFile(built, binary(), platform::Overwrite::Replace));
        ASSERT_EQ(test::runCommand("chmod 755 " + test::shellQuote(binary())), 0);
    }

    std::string programDir() const { return m_root.path() + "bin/"; }
    std::string binary() const { return programDir() + "quillmere"; }
    std::string perUser() const { return m_root.path() + "home/.config/Quillmere/"; }
    std::string runtimeDir() const { return m_root.path() + "runtime"; }

    struct Start {
        bool runtimeDirectory = true; ///< false: XDG_RUNTIME_DIR is unset
        std::string folder = "work";  ///< the current folder, below the scratch root
        std::string before{};         ///< a shell command run there first
        std::string input{};          ///< a file there that standard input reads
    };
    RunResult run(const std::string& arguments) const { return run(arguments, Start{}); }
    RunResult run(const std::string& arguments, const Start& start) const {
        const std::string command =
            "cd " + test::shellQuote(m_root.path() + start.folder) + " && " +
            (start.before.empty() ? "" : start.before + " && ") + "env -u XDG_CONFIG_HOME" +
            (start.runtimeDirectory ? "" : " -u XDG_RUNTIME_DIR") +
            " HOME=" + test::shellQuote(m_root.path() + "home") +
            (start.runtimeDirectory ? " XDG_RUNTIME_DIR=" + test::shellQuote(runtimeDir()) : "") +
            " TMPDIR=" + test::shellQuote(m_root.path()) + " LC_ALL=C LANG=C " +
            test::shellQuote(binary()) + " " + arguments +
            (start.input.empty() ? "" : " <" + test::shellQuote(start.input)) + " 2>" +
            test::shellQuote(m_root.path() + "stderr.txt");
        RunResult result;
        result.status = test::runCommand(command, &result.out);
        const auto err = test::readBytes(m_root.path() + "stderr.txt");
        result.err.assign(err.begin(), err.end());
        return result;
    }

    test::TempDir m_root;
};

} // namespace quill::app
