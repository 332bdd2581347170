// Numbering a batch into one output folder: every image gets the next free "(%001%)" name and its
// file is created before the next image is named, as in a run. The time per image must stay flat
// from 2,000 to 20,000 images (the folder is listed once per run, not once per image).
#include "imagefiles/image_record.h"
#include "settings/output_naming.h"
#include "settings/preset.h"
#include "settings/run_settings.h"
#include "toolkit/platform/platform.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace quill;

void numberIntoOneFolder(benchmark::State& state) {
    const auto images = static_cast<std::size_t>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        std::string root = platform::tempDirectory() + "quill-numbering-XXXXXX";
        if (!::mkdtemp(root.data())) {
            state.SkipWithError("no temporary folder");
            return;
        }
        settings::Preset preset = settings::defaultPreset(0, "bench");
        preset.convertFormat = 0;
        preset.outputDirPattern = root + "/out/";
        preset.renameEnabled = 1;
        preset.renamePattern = "(%001%) %FN%";
        const settings::RunSettings run = settings::deriveRunSettings(preset, {});
        settings::OutputNamer namer(preset, run, {});
        imagefiles::ImageRecord record;
        record.sourcePath = "/photos/IMG.jpg";
        record.folder = "/photos/";
        record.fileName = "IMG";
        state.ResumeTiming();

        for (std::size_t i = 0; i < images; ++i) {
            const settings::OutputPath out = namer.outputPathFor(record, {});
            const int fd = ::open(out.path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            if (fd < 0) {
                state.SkipWithError("output name already taken");
                break;
            }
            ::close(fd);
        }

        state.PauseTiming();
        (void)platform::removeDirectoryTree(root);
        state.ResumeTiming();
    }
    state.SetItemsProcessed(std::int64_t(images) * std::int64_t(state.iterations()));
}

} // namespace

BENCHMARK(numberIntoOneFolder)->Arg(2000)->Arg(20000)->Unit(benchmark::kMillisecond)->Iterations(1);

BENCHMARK_MAIN();
