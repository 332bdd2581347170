// The processing loop seen from outside: which steps each image went through, in which order,
// and the result it ended with; and a run whose worker threads cannot start.
#include "pipeline/process_loop.h"

#include "batch_run_fixture.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_saver.h"
#include "ops_test_images.h"
#include "pipeline/image_result.h"
#include "pipeline/image_steps.h"
#include "pipeline/run_plan.h"
#include "pipeline/work_queue.h"
#include "settings/language_pack.h"
#include "settings/output_naming.h"
#include "settings/run_settings.h"
#include "test_support.h"
#include "thread_refusal.h"
#include "toolkit/memory_budget.h"
#include "toolkit/platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace quill::pipeline {
namespace {

using toolkit::Image;
using toolkit::PixelFormat;

class ProcessLoop : public test_runs::BatchRun {
protected:
    void addPng(const std::string& name, int width, int height) {
        Image image(width, height, PixelFormat::Bgr24);
        ASSERT_TRUE(imagefiles::saveImageFile(image, dir.file(name), imagefiles::Encoder::Png,
                                              {.quality = 8}, 24));
        ASSERT_TRUE(imagefiles::addImageRecord(dir.file(name), images, {}));
    }
    void addFile(const std::string& name, const std::string& bytes) {
        test::writeText(dir.file(name), bytes);
        ASSERT_TRUE(imagefiles::addImageRecord(dir.file(name), images, {}));
    }
    /// Runs the loop with "skip all" and returns each image's steps, one letter per step.
    std::vector<std::string> run() {
        const settings::RunSettings runSettings =
            settings::deriveRunSettings(preset, settings::runContextFromPlatform(images.size(), 0));
        settings::FixedCollisionPolicy skipAll(settings::CollisionAnswer::SkipAll);
        struct NeverStop final : DiskFullQuestion {
            bool askStopAfterDiskFull(const std::string&) override { return false; }
        } diskFull;
        flags.runActive = 1;
        std::vector<std::string> steps(images.size());
        ProcessEnvironment env{images, keep,    preset,   runSettings,
                               flags,  skipAll, diskFull, "creator"};
        env.stepDone = [&](std::size_t position, ImageStep step) {
            steps.at(position) += "CNLEXWFSK"[int(step)];
            if (onStep) onStep(position, step);
        };
        processImages(env);
        return steps;
    }

    std::function<void(std::size_t, ImageStep)> onStep; ///< called after each step's letter
};

TEST_F(ProcessLoop, EachImageGoesThroughItsStepsInOrderAndStopsAtItsFailure) {
    // C check, N name, L load, E edit, X encode, W commit, F finish, S settle, K keep.
    preset.cropEnabled = 1;
    preset.cropMode = settings::CropMode::Margins;
    preset.cropLeft = preset.cropRight = 20; // leaves nothing of an image 40 wide or less
    const struct {
        const char* name;
        const char* steps;
        ImageResult result;
        std::int32_t detail;
    } expected[] = {
        {"wide.png", "CNLEXWFSK", ImageResult::Done, DetailNone},
        {"short.png", "CK", ImageResult::Unreadable, DetailNone},
        {"broken.png", "CNLK", ImageResult::LoadFailed, DetailNone},
        {"narrow.png", "CNLEK", ImageResult::StepFailed, DetailCrop},
        {"taken.png", "CNK", ImageResult::SkippedExisting, DetailNone},
        {"last.png", "CNLEXWFSK", ImageResult::Done, DetailNone},
    };
    addPng("wide.png", 64, 48);
    addFile("short.png", "\x89PNG\r\n");
    addFile("broken.png", "\x89PNG\r\n\x1a\n" + std::string(100, 'x'));
    addPng("narrow.png", 40, 48);
    addPng("taken.png", 64, 48);
    test::writeText(dir.file("out/taken.jpg"), "an earlier output");
    addPng("last.png", 64, 48);
    // Whatever path an image takes, it counts all of its progress units and no more.
    std::vector<std::int32_t> progressAtKeep(std::size(expected), -1);
    onStep = [&](std::size_t position, ImageStep step) {
        if (step == ImageStep::Keep) progressAtKeep[position] = flags.progressCounter.load();
    };

    const std::vector<std::string> steps = run();
    onStep = nullptr;
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(progressAtKeep[i],
                  kProcessingUnitsPerImage * std::int32_t(i + 1) - ImageProgressUnits::kKeepList)
            << expected[i].name;
        EXPECT_EQ(steps[i], expected[i].steps) << expected[i].name;
        EXPECT_EQ(images[i].resultState, expected[i].result) << expected[i].name;
        EXPECT_EQ(images[i].resultCode, expected[i].detail) << expected[i].name;
    }
    EXPECT_EQ(test::readBytes(dir.file("out/taken.jpg")).size(), 17U);
}

/// Sets QUILL_THREADS while it lives.
class ThreadCount {
public:
    explicit ThreadCount(int threads) {
        ::setenv("QUILL_THREADS", std::to_string(threads).c_str(), 1);
    }
    ~ThreadCount() { ::unsetenv("QUILL_THREADS"); }
};

/// While it lives, editing an image 77 pixels wide throws what `thrower` throws, on whichever
/// thread edits it.
class EditThrows {
public:
    explicit EditThrows(detail::EditFault thrower) { detail::setEditFault(thrower); }
    ~EditThrows() { detail::setEditFault(nullptr); }
};

// Whatever an image's work throws, on a worker and again when the loop redoes it, fails that
// image alone with the reason, frees its room, and the run goes on with the next image.
TEST_F(ProcessLoop, WorkThatThrowsFailsItsImageAndTheRunGoesOn) {
    struct Case {
        const char* name;
        detail::EditFault thrower;
        std::int32_t detail;
    };
    const Case cases[] = {
        {"no memory",
         [](int width, int) {
             if (width == 77) throw std::bad_alloc();
         },
         DetailOutOfMemory},
        {"anything else",
         [](int width, int) {
             if (width == 77) throw std::runtime_error("unexpected");
         },
         DetailUnexpectedError},
    };
    for (const Case& c : cases) {
        for (const int threads : {1, 4}) {
            SCOPED_TRACE(std::string(c.name) + ", " + std::to_string(threads) + " threads");
            const ThreadCount threadCount(threads);
            const EditThrows editThrows(c.thrower);
            images.clear();
            const std::string folder = dir.path() + c.name + std::to_string(threads) + "/";
            ASSERT_TRUE(platform::createDirectories(folder + "out/"));
            preset.outputDirPattern = folder + "out/";
            for (int i = 0; i < 6; ++i) {
                const std::string name = folder + "img" + std::to_string(i) + ".png";
                ASSERT_TRUE(
                    imagefiles::saveImageFile(Image(i == 2 ? 77 : 64, 48, PixelFormat::Bgr24), name,
                                              imagefiles::Encoder::Png, {.quality = 8}, 24));
                ASSERT_TRUE(imagefiles::addImageRecord(name, images, {}));
            }
            const std::vector<std::string> steps = run();
            for (std::size_t i = 0; i < images.size(); ++i) {
                const bool thrown = i == 2;
                EXPECT_EQ(images[i].resultState,
                          thrown ? ImageResult::StepFailed : ImageResult::Done)
                    << i;
                EXPECT_EQ(images[i].resultCode, thrown ? c.detail : DetailNone) << i;
                EXPECT_EQ(steps[i], thrown ? "CNLK" : "CNLEXWFSK") << i;
            }
            EXPECT_FALSE(platform::fileExists(folder + "out/img2.jpg"));
            EXPECT_EQ(toolkit::MemoryBudget::process().reserved(), 0U) << "every hold given back";
        }
    }
}

// A cancel stops the work in flight between its stages instead of waiting for it: the image
// being edited is left unprocessed with nothing written, and so are the images after it; the
// images before it keep their outputs.
TEST_F(ProcessLoop, ACancelStopsTheImageInFlightBetweenItsStages) {
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Percent;
    preset.resizePercent = 50;
    preset.brightnessEnabled = 1;
    preset.brightnessLevel = 110;
    for (const int threads : {1, 4}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const ThreadCount threadCount(threads);
        images.clear();
        flags.runCancelled = 0;
        const std::string folder = dir.path() + "cancel" + std::to_string(threads) + "/";
        ASSERT_TRUE(platform::createDirectories(folder + "out/"));
        preset.outputDirPattern = folder + "out/";
        for (int i = 0; i < 6; ++i) {
            const std::string name = folder + "img" + std::to_string(i) + ".png";
            ASSERT_TRUE(imagefiles::saveImageFile(Image(64, 48, PixelFormat::Bgr24), name,
                                                  imagefiles::Encoder::Png, {.quality = 8}, 24));
            ASSERT_TRUE(imagefiles::addImageRecord(name, images, {}));
        }
        // The user cancels while image 2 is being loaded by the loop.
        onStep = [&](std::size_t position, ImageStep step) {
            if (position == 2 && step == ImageStep::Load) flags.runCancelled = 1;
        };
        const std::vector<std::string> steps = run();
        for (std::size_t i = 0; i < images.size(); ++i) {
            const bool out = platform::fileExists(folder + "out/img" + std::to_string(i) + ".jpg");
            if (i < 2) {
                EXPECT_EQ(images[i].resultState, ImageResult::Done) << i;
                EXPECT_TRUE(out) << i;
            } else if (i == 2 && threads > 1 && images[i].resultState == ImageResult::Done) {
                // A worker had finished its work before the cancel: only the commit was left.
                EXPECT_TRUE(out) << i;
            } else {
                EXPECT_EQ(images[i].resultState, ImageResult::Pending) << i;
                EXPECT_FALSE(out) << i;
            }
        }
        if (threads == 1) {
            EXPECT_EQ(steps[2], "CNL") << "stopped before its first edit ended";
        }
    }
    onStep = nullptr;
}

TEST_F(ProcessLoop, NoDecodeStartsOnceTheRunIsCancelled) {
    preset.brightnessEnabled = 1;
    preset.brightnessLevel = 110;
    for (const int threads : {1, 4}) {
        SCOPED_TRACE(std::to_string(threads) + " threads");
        const ThreadCount threadCount(threads);
        images.clear();
        flags.runCancelled = 0;
        for (int i = 0; i < 3; ++i)
            addPng("t" + std::to_string(threads) + "_" + std::to_string(i) + ".png", 64, 48);
        // The user cancels while the first image gets its name: its decode, by the loop or by a
        // worker, would only be thrown away.
        onStep = [&](std::size_t position, ImageStep step) {
            if (position == 0 && step == ImageStep::Name) flags.runCancelled = 1;
        };
        const std::vector<std::string> steps = run();
        EXPECT_EQ(steps[0], "CN");
        for (std::size_t i = 0; i < images.size(); ++i)
            EXPECT_EQ(images[i].resultState, ImageResult::Pending) << i;
    }
    onStep = nullptr;
}

TEST_F(ProcessLoop, ASourceSwappedOrRewrittenAfterItWasReadSurvivesMovesAndReplaces) {
    // Another program puts a new picture under a source's name (by rename, or by writing over
    // the file in place) after the run read the old one. Whether the run moves its sources or
    // writes its outputs over them, the new picture must survive and the image fail.
    const std::string newPicture = "\x89PNG a newer picture, put there by another program";
    for (const bool inPlace : {false, true}) {
        for (const int threads : {1, 4}) {
            SCOPED_TRACE((inPlace ? "outputs over their sources, " : "moved sources, ") +
                         std::to_string(threads) + " threads");
            const ThreadCount threadCount(threads);
            images.clear();
            const std::string folder =
                dir.path() + std::to_string(threads) + (inPlace ? "in-place/" : "moved/");
            ASSERT_TRUE(platform::createDirectories(folder + "out/"));
            for (int i = 0; i < 8; ++i) {
                const std::string name = folder + "img" + std::to_string(i) + ".png";
                ASSERT_TRUE(imagefiles::saveImageFile(Image(64, 48, PixelFormat::Bgr24), name,
                                                      imagefiles::Encoder::Png, {.quality = 8},
                                                      24));
                ASSERT_TRUE(imagefiles::addImageRecord(name, images, {}));
            }
            preset.outputDirPattern = folder + "out/";
            preset.outputDirEnabled = inPlace ? 0 : 1;
            preset.moveOriginal = 1;
            preset.convertFormat = inPlace ? 0 : 1;
            preset.resizeEnabled = 1;
            preset.resizeMode = settings::ResizeMode::Percent;
            preset.resizePercent = 50;
            // Image 2 is replaced by a rename, image 5 rewritten in place, once they were read.
            onStep = [&](std::size_t position, ImageStep step) {
                if (step != ImageStep::Load || (position != 2 && position != 5)) return;
                const std::string& source = images[position].sourcePath;
                if (position == 2) {
                    test::writeText(folder + ".r", newPicture);
                    ASSERT_TRUE(
                        platform::moveFile(folder + ".r", source, platform::Overwrite::Replace));
                } else {
                    test::writeText(source, newPicture);
                }
            };
            (void)run();
            for (std::size_t i = 0; i < images.size(); ++i) {
                const bool swapped = i == 2 || i == 5;
                EXPECT_EQ(images[i].resultState,
                          swapped ? ImageResult::WriteFailed : ImageResult::Done)
                    << i;
                EXPECT_EQ(images[i].resultCode, swapped ? DetailSourceChanged : DetailNone) << i;
                const std::vector<std::uint8_t> bytes = test::readBytes(images[i].sourcePath);
                if (swapped) {
                    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), newPicture) << i;
                } else if (!inPlace) {
                    EXPECT_FALSE(platform::fileExists(images[i].sourcePath)) << i;
                }
            }
        }
    }
}

/// Fails every read with EIO while set, as a disk that fails for a moment does.
std::atomic<bool> g_readsFail{false};
int failReadsWhileSet(const std::string&, platform::ReadStep step) {
    return step == platform::ReadStep::Read && g_readsFail.load() ? EIO : 0;
}

TEST_F(ProcessLoop, MetadataThatFailsToReadFailsTheImageInsteadOfGoingMissing) {
    // The metadata of a JPEG that stays a JPEG is read before the pixels. When that read fails
    // and the decode then succeeds, the output must not go out without the photo's EXIF.
    const std::string photo = dir.file("photo.jpg");
    test::writeBytes(photo, test::readBytes(test::testdata("exif/Canon_40D.jpg")));
    ASSERT_TRUE(imagefiles::addImageRecord(photo, images, {}));
    preset.keepMetadata = 1;
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Percent;
    preset.resizePercent = 50;
    const ThreadCount oneThread(1); // the loop reads the metadata before anything decodes
    // The disk fails until the source check (which reads the metadata) is over.
    g_readsFail = true;
    onStep = [](std::size_t, ImageStep step) {
        if (step == ImageStep::Check) g_readsFail = false;
    };
    platform::detail::setReadFault(failReadsWhileSet);
    (void)run();
    platform::detail::setReadFault(nullptr);
    EXPECT_EQ(images[0].resultState, ImageResult::Unreadable);
    EXPECT_EQ(images[0].resultCode, DetailReadError);
    EXPECT_FALSE(platform::fileExists(dir.file("out/photo.jpg")));
}

TEST_F(ProcessLoop, WithoutASecondThreadEveryImageIsDecodedInItsTurn) {
    for (const char* name : {"a.png", "b.png", "c.png"})
        addPng(name, 64, 48);
    std::vector<std::string> steps;
    {
        const test::ThreadsRefused refused;
        const auto startThread = [] { std::thread([] {}).join(); };
        EXPECT_THROW(startThread(), std::system_error) << "threads are refused";
        steps = run();
    }
    for (std::size_t i = 0; i < images.size(); ++i) {
        EXPECT_EQ(steps[i], "CNLEXWFSK") << i;
        EXPECT_EQ(images[i].resultState, ImageResult::Done) << i;
    }
}

// A turn the run applied to a JPEG must not be undone by a viewer that honours the EXIF
// orientation: an upright source (tag 1) keeps 1, a source stored turned (tag 6) and turned
// clockwise becomes upright (1), and a source without the tag gets none.
TEST_F(ProcessLoop, ATurnedJpegShowsTurnedInViewersThatHonourTheOrientationTag) {
    if (!test::haveTool("/usr/bin/exiftool") || !test::haveTool("/usr/bin/convert"))
        QUILL_SKIP_WITHOUT_TOOL() << "exiftool or ImageMagick missing";
    const struct {
        const char* name;
        const char* orientation; ///< of the source, "" for none
        const char* written;     ///< of the output
    } cases[] = {{"upright.jpg", "1", "1"}, {"stored6.jpg", "6", "1"}, {"none.jpg", "", ""}};
    const Image photo = test::makeImage(64, 48, PixelFormat::Bgr24, [](int x, int y) {
        return test::Bgra{std::uint8_t(x * 4), std::uint8_t(y * 5), std::uint8_t(x < 16 ? 255 : 0)};
    });
    for (const auto& c : cases) {
        const std::string path = dir.file(c.name);
        ASSERT_TRUE(
            imagefiles::saveImageFile(photo, path, imagefiles::Encoder::Jpeg, {.quality = 9}, 24));
        if (*c.orientation) {
            ASSERT_EQ(test::runCommand("exiftool -q -n -overwrite_original -Orientation=" +
                                       std::string(c.orientation) + " " + test::shellQuote(path)),
                      0);
        }
        ASSERT_TRUE(imagefiles::addImageRecord(path, images, {}));
    }
    preset.rotateEnabled = 1;
    preset.rotateMode = int(RotateMode::Clockwise90);
    preset.keepMetadata = 1;
    preset.useExifOrientation = 1;
    const std::vector<std::string> steps = run();

    const auto tool = [](const std::string& command) {
        std::string output;
        EXPECT_EQ(test::runCommand(command, &output), 0) << command;
        return output;
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(steps[i], "CNLEXWFSK");
        const std::string out = test::shellQuote(dir.file(std::string("out/") + cases[i].name));
        EXPECT_EQ(tool("exiftool -s -s -s -n -Orientation " + out),
                  *cases[i].written ? std::string(cases[i].written) + "\n" : "");
        // As a viewer shows it: turned, 48 x 64, and the same pixels as stored.
        EXPECT_EQ(tool("convert " + out + " -auto-orient -format '%w x %h' info:"), "48 x 64");
        EXPECT_EQ(tool("convert " + out + " -auto-orient ppm:- | md5sum"),
                  tool("convert " + out + " ppm:- | md5sum"));
    }
}

TEST_F(ProcessLoop, AJpegDecodedReducedIsResizedToTheFullImagesSize) {
    const Image photo = test::makeImage(1603, 1201, PixelFormat::Bgr24, [](int x, int y) {
        return test::Bgra{std::uint8_t(x / 7), std::uint8_t(y / 5), std::uint8_t((x + y) / 11)};
    });
    ASSERT_TRUE(imagefiles::saveImageFile(photo, dir.file("p.jpg"), imagefiles::Encoder::Jpeg,
                                          {.quality = 9}, 24));
    ASSERT_TRUE(imagefiles::addImageRecord(dir.file("p.jpg"), images, {}));
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Pixels;
    preset.resizeOption = 1; // keep the aspect ratio
    preset.resizeWidth = 40;
    preset.resizeHeight = 30;
    preset.rotateEnabled = 1;
    preset.rotateMode = int(RotateMode::Clockwise90);
    const settings::RunSettings run =
        settings::deriveRunSettings(preset, settings::runContextFromPlatform(images.size(), 0));
    const RunPlan plan = makeRunPlan(preset, run, images, "creator");
    const EditTools tools(plan.edit);
    const SourceDecode decode = sourceDecodeFor(plan, images[0]);
    // 301 x 401, turned, keeps 8 times 22 x 30; 151 x 201 would not keep 10 times.
    EXPECT_EQ(decode.reduction, 4);
    const EditedImage reduced = editImage(
        plan, tools, loadSource(plan, images[0], decode).image, "", [](EditStep) {}, decode);
    const EditedImage full =
        editImage(plan, tools, loadSource(plan, images[0]).image, "", [](EditStep) {});
    ASSERT_TRUE(reduced.outcome.ok());
    // The sizes the metadata gets are the full image's, and the pixels stay close to it.
    EXPECT_EQ(std::pair(reduced.width, reduced.height), std::pair(22, 30));
    EXPECT_EQ(std::pair(full.width, full.height), std::pair(22, 30));
    EXPECT_GT(test::psnr(reduced.image, full.image), 40.0);
}

// A camera RAW resized to half or less is developed at half size; the result has the size asked
// for and stays close to the full development; a resize to more than half develops it whole.
TEST_F(ProcessLoop, ACameraRawResizedToHalfOrLessIsDevelopedAtHalfSize) {
    ASSERT_TRUE(imagefiles::addImageRecord(test::fixture("raw/patches.dng"), images, {}));
    ASSERT_EQ(images[0].formatKind, imagefiles::FormatKind::CameraRaw);
    preset.resizeEnabled = 1;
    preset.resizeMode = settings::ResizeMode::Pixels;
    preset.resizeOption = 1; // keep the aspect ratio
    for (const auto& [width, reduction] : {std::pair(64, 2), std::pair(40, 2), std::pair(80, 1)}) {
        SCOPED_TRACE(width);
        preset.resizeWidth = std::int16_t(width);
        preset.resizeHeight = std::int16_t(width * 3 / 4);
        const settings::RunSettings run =
            settings::deriveRunSettings(preset, settings::runContextFromPlatform(images.size(), 0));
        const RunPlan plan = makeRunPlan(preset, run, images, "creator");
        const EditTools tools(plan.edit);
        const SourceDecode decode = sourceDecodeFor(plan, images[0]);
        EXPECT_EQ(std::max(decode.reduction, 1), reduction);
        const EditedImage edited = editImage(
            plan, tools, loadSource(plan, images[0], decode).image, "", [](EditStep) {}, decode);
        const EditedImage full =
            editImage(plan, tools, loadSource(plan, images[0]).image, "", [](EditStep) {});
        ASSERT_TRUE(edited.outcome.ok());
        EXPECT_EQ(std::pair(edited.width, edited.height), std::pair(width, width * 3 / 4));
        EXPECT_GT(test::psnr(edited.image, full.image), 30.0);
    }
}

TEST_F(ProcessLoop, AnImageHoldsRoomForTheLargestOfItsStepsEncoderIncluded) {
    // Only the header of a 4000 x 4000 PNG: the estimate goes by what the header declares.
    test::writeBytes(dir.file("big.png"),
                     {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0,    0, 0,    13,
                      'I',  'H', 'D', 'R', 0,    0,    0x0F, 0xA0, 0,    0, 0x0F, 0xA0,
                      8,    2,   0,   0,   0,    0x61, 0x1D, 0x74, 0x55, 0, 0,    0,
                      0,    'I', 'E', 'N', 'D',  0xAE, 0x42, 0x60, 0x82});
    imagefiles::ImageRecord record;
    record.sourcePath = dir.file("big.png");
    record.formatKind = imagefiles::FormatKind::Png;
    const std::uint64_t pixels = 4000 * 4000;
    const std::uint64_t decoded = 2 * pixels * 4; // the image and one edited copy
    const auto holdWith = [&](auto&& change) {
        settings::Preset p = preset;
        change(p);
        const settings::RunSettings run =
            settings::deriveRunSettings(p, settings::runContextFromPlatform(1, 0));
        return holdBytesFor(makeRunPlan(p, run, images, "creator"), record);
    };
    using settings::OutputFormat;
    const struct {
        const char* what;
        std::function<void(settings::Preset&)> change;
        std::uint64_t atLeast;
    } cases[] = {
        {"JPEG", [](settings::Preset&) {}, decoded},
        // OpenJPEG copies every sample into 32 bits beside the image it reads.
        {"JPEG 2000", [](settings::Preset& p) { p.outputFormat = OutputFormat::Jpeg2000; },
         pixels * 4 + pixels * 4 * 4},
        {"PDF", [](settings::Preset& p) { p.outputFormat = OutputFormat::Pdf; }, decoded},
        {"PNG palette",
         [](settings::Preset& p) {
             p.outputFormat = OutputFormat::Png;
             p.colorDepthEnabled = 1;
             p.colorDepth = settings::ColorDepth::Bits8;
         },
         decoded},
        // The resampler holds the image and its twice as large result.
        {"enlarged",
         [](settings::Preset& p) {
             p.resizeEnabled = 1;
             p.resizeMode = settings::ResizeMode::Percent;
             p.resizePercent = 200;
             p.resizeOption = 1;
             p.resizeLimits = settings::ResizeLimits::Both;
         },
         pixels * 4 + 4 * pixels * 4},
    };
    for (const auto& c : cases)
        EXPECT_GE(holdWith(c.change), c.atLeast) << c.what;
    EXPECT_GT(holdWith(cases[1].change), holdWith(cases[0].change));

    // An image that needs more than the whole budget holds all of it: it runs alone.
    toolkit::MemoryBudget& budget = toolkit::MemoryBudget::process();
    const std::uint64_t limit = budget.limit();
    budget.setLimit(decoded);
    EXPECT_EQ(holdWith(cases[1].change), decoded);
    budget.setLimit(limit);
}

/// The thread that runs the loop in a test; work on any other thread is a worker's.
std::atomic<std::thread::id> g_loopThread;

TEST_F(ProcessLoop, ImagesThatNeedMostOrAllOfTheBudgetRunWithinItOnAnyThreads) {
    addPng("first.png", 301, 200);
    for (const char* name : {"b.png", "c.png", "d.png", "e.png", "f.png"})
        addPng(name, 300, 200);
    g_loopThread = std::this_thread::get_id();
    toolkit::MemoryBudget& budget = toolkit::MemoryBudget::process();
    const std::uint64_t limit = budget.limit();
    // JPEG 2000 outputs are encoded by the loop (their flavour goes by the output's name), so a
    // worker's finished image keeps its pixels until the loop takes it: room must go to the
    // images in list order, or a later image's pixels wait beside an earlier one's work. Which
    // worker asks first is up to the scheduler; several runs give every order a chance.
    for (const auto format : {settings::OutputFormat::Jpeg, settings::OutputFormat::Jpeg2000}) {
        preset.outputFormat = format;
        budget.setLimit(limit);
        const settings::RunSettings runSettings =
            settings::deriveRunSettings(preset, settings::runContextFromPlatform(images.size(), 0));
        const std::uint64_t hold =
            holdBytesFor(makeRunPlan(preset, runSettings, images, "creator"), images[0]);
        // Two images never fit together; one fits exactly; one needs more than there is (it
        // runs alone).
        for (const std::uint64_t budgetLimit : {hold * 3 / 2, hold, hold / 2}) {
            // When a worker fails the first image, the loop redoes it while the workers have
            // finished later images: it must wait for its room, not take it beside theirs.
            for (const bool workerFails : {false, true}) {
                const EditThrows editThrows(workerFails ? [](int width, int) {
                    if (width == 301 && std::this_thread::get_id() != g_loopThread.load())
                        throw std::runtime_error("a worker failed");
                } : detail::EditFault(nullptr));
                for (const int threads : {1, 4}) {
                    const ThreadCount threadCount(threads);
                    budget.setLimit(budgetLimit);
                    for (int attempt = 0; attempt < 2; ++attempt) {
                        SCOPED_TRACE(testing::Message()
                                     << "format " << int(format) << ", budget " << budgetLimit
                                     << " for " << hold << (workerFails ? ", worker fails, " : ", ")
                                     << threads << " threads, run " << attempt);
                        for (imagefiles::ImageRecord& record : images.records())
                            record.resultState = ImageResult::Pending;
                        std::filesystem::remove_all(dir.file("out"));
                        // Whatever holds room while an image is decoded or encoded stays within
                        // the budget: nothing runs beside what the budget has no room for.
                        std::uint64_t mostReserved = 0;
                        onStep = [&](std::size_t, ImageStep step) {
                            if (step == ImageStep::Load || step == ImageStep::Encode)
                                mostReserved = std::max(mostReserved, budget.reserved());
                        };
                        const std::vector<std::string> steps = run();
                        for (std::size_t i = 0; i < images.size(); ++i) {
                            EXPECT_EQ(steps[i], "CNLEXWFSK") << i;
                            EXPECT_EQ(images[i].resultState, ImageResult::Done) << i;
                        }
                        EXPECT_GT(mostReserved, 0u);
                        EXPECT_LE(mostReserved, budgetLimit) << "an image ran past the budget";
                        EXPECT_EQ(budget.reserved(), 0u) << "every room is given back";
                    }
                }
            }
        }
    }
    onStep = nullptr;
    budget.setLimit(limit);
}

} // namespace
} // namespace quill::pipeline
