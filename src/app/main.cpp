// Program entry: hands the command line to start-up.
#include "app/startup.h"
#ifdef QUILL_WITH_WINDOW
#include "app/ui/window_mode.h"
#endif

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A console reader that went away (`quillmere -Console dir | head -c1`) must not end the
    // batch: a failed write to standard output is just a line nobody reads.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
#ifdef QUILL_WITH_WINDOW
    quill::app::setWindowModeEntry(&quill::app::ui::runWindowMode);
#endif
    quill::app::runProgram(arguments);
}
