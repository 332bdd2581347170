// Program entry: hands the command line to start-up.
#include "app/startup.h"

#include <string>
#include <vector>

int main(int argc, char **argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    quill::app::runProgram(arguments);
}
