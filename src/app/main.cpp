// Program entry: hands the command line to start-up.
#include "app/startup.h"
#ifdef QUILL_WITH_WINDOW
#include "app/ui/window_mode.h"
#endif

#include <malloc.h>

#include <csignal>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // A console reader that went away (`quillmere -Console dir | head -c1`) must not end the
    // batch: a failed write to standard output is just a line nobody reads.
    std::signal(SIGPIPE, SIG_IGN);
    // A batch allocates and frees working images of tens of megabytes for every image. Above
    // glibc's mmap threshold each one would be fresh memory that the kernel maps and faults in
    // again, image after image (a third of the time of a full-size colour run on 12-megapixel
    // photographs); kept in the heap the same memory is reused. Images over 256 MiB still get
    // mappings of their own, and the heap gives memory back once 256 MiB lie free at its top.
    mallopt(M_MMAP_THRESHOLD, 256 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
#ifdef QUILL_WITH_WINDOW
    quill::app::setWindowModeEntry(&quill::app::ui::runWindowMode);
#endif
    quill::app::runProgram(arguments);
}
