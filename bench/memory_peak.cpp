// Decodes each file named on the command line, as a batch run loads it, and prints the peak
// resident memory of the process afterwards with the time the decode took. Run it once per file
// to see each file's own peak.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "imagefiles/image_loader.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const quill::toolkit::Image image =
            quill::imagefiles::loadImageFile(argv[i], quill::imagefiles::FormatKind::None);
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count();
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        std::printf("%s: %s %dx%d, %lld ms, peak RSS %ld MiB\n", argv[i],
                    image.empty() ? "refused" : "decoded", image.width(), image.height(),
                    static_cast<long long>(ms), usage.ru_maxrss / 1024);
    }
    return 0;
}
