// Program entry: hands the command line to start-up.
#include "app/startup.h"
#ifdef QUILL_WITH_WINDOW
#include "app/ui/window_mode.h"
#endif

#include <string>
#include <vector>

int main(int argc, char **argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
#ifdef QUILL_WITH_WINDOW
    quill::app::setWindowModeEntry(&quill::app::ui::runWindowMode);
#endif
    quill::app::runProgram(arguments);
}
