// Console runs of the real program where the user or others make it hard: escape sequences in
// names, pipes, folders it may not write to, path arguments that climb.
#include "console_program.h"

#include "settings/preset.h"
#include "test_support.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace quill::test {
namespace {

using Clock = std::chrono::steady_clock;

TEST(ConsoleSafety, NoPauseAfterSuccessWhenOutputIsAPipe) {
    ConsoleProgram program;
    settings::Preset preset = program.basePreset();
    preset.convertFormat = 0;
    program.setPresets({preset});
    program.addSample("bmp/Info_1_Bit_Top_Down.bmp", "a.bmp");

    std::FILE* pipe =
        ::popen((program.command({"-Console", program.in()}) + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char line[4096];
    bool sawResult = false;
    Clock::time_point resultAt{};
    while (std::fgets(line, sizeof line, pipe)) {
        if (std::string(line) == "Result: Processed successfully\n") {
            sawResult = true;
            resultAt = Clock::now();
        }
    }
    const auto tail = Clock::now() - resultAt;
    EXPECT_EQ(::pclose(pipe), 0);
    ASSERT_TRUE(sawResult);
    // After the result only the footer is printed; the 1.5 s pause is for people at a terminal.
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(tail).count(), 1000);
}

} // namespace
} // namespace quill::test
