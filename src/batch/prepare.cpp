// The preparation phase of a batch run.
#include "batch/prepare.h"

#include "imagefiles/format.h"
#include "imagefiles/image_list.h"
#include "imagefiles/image_loader.h"
#include "pipeline/image_result.h"
#include "pipeline/jpeg_metadata.h"
#include "settings/filter_conditions.h"
#include "toolkit/platform/platform.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

namespace quill::batch {
namespace {

using imagefiles::ImageRecord;
using imagefiles::ImageResult;

using settings::Requirement;

/// The answers of requirementQuery for one run, asked once.
class Needs {
public:
    Needs(const settings::Preset& s, std::string_view tasks, std::size_t imageCount) {
        for (Requirement requirement : settings::kRequirements)
            m_need[std::size_t(requirement)] =
                settings::requirementQuery(requirement, s, tasks, imageCount);
    }
    [[nodiscard]] bool operator[](Requirement requirement) const {
        return m_need[std::size_t(requirement)];
    }

private:
    std::array<bool, settings::kRequirements.size() + 1> m_need{};
};

/// Fails an image whose file could not be read while a detail was read: the detail is unknown,
/// and a stand-in (the file date for the date taken, no rotation for the orientation) would
/// name, file, filter or sort the image by a guess.
void failUnread(ImageRecord& record) {
    record.resultState = ImageResult::Unreadable;
    record.resultCode = imagefiles::DetailReadError;
}

void readDetails(ImageRecord& record, const Needs& need) {
    const auto info = platform::fileInfo(record.sourcePath);
    if (!info) {
        record.resultState = ImageResult::Unreadable;
        if (platform::isReadError(platform::lastError())) failUnread(record);
        return;
    }
    if (info->isDirectory || info->size < imagefiles::kMinimumFileSize) {
        record.resultState = ImageResult::Unreadable;
        return;
    }
    if (record.formatKind == imagefiles::FormatKind::Video) return;
    if (need[Requirement::Dimensions]) {
        imagefiles::ImageRect rect;
        int readError = 0;
        if (!imagefiles::readImageSize(record.sourcePath, rect, &readError)) {
            if (readError != 0)
                failUnread(record);
            else
                record.resultState = ImageResult::LoadFailed;
            return;
        }
        record.width = rect.width;
        record.height = rect.height;
        record.pixelCount = std::int64_t(rect.width) * rect.height;
        record.aspectRatio = float(rect.width) / float(rect.height);
    }
    const imagefiles::FormatInfo* format = imagefiles::formatInfo(record.formatKind);
    if ((need[Requirement::ExifDate] || need[Requirement::ExifOrientation]) &&
        (record.formatKind == imagefiles::FormatKind::Jpeg ||
         (format != nullptr &&
          (format->metadata != nullptr || (format->holds & imagefiles::HoldsExif))))) {
        const pipeline::ExifDetails exif =
            record.formatKind == imagefiles::FormatKind::Jpeg
                ? pipeline::readExifDetails(record.sourcePath)
                : pipeline::readExifDetails(record.sourcePath, *format);
        // Only a file that was read and holds no date keeps its file date.
        if (platform::isReadError(exif.readError)) {
            failUnread(record);
            return;
        }
        if (need[Requirement::ExifDate] && exif.recordedDate)
            record.recordedDate = *exif.recordedDate;
        if (need[Requirement::ExifOrientation] && exif.orientation)
            record.orientation = std::int8_t(*exif.orientation);
    }
    if (need[Requirement::ColourCount] || need[Requirement::Brightness]) {
        const imagefiles::BudgetedImage loaded =
            imagefiles::loadImageFileBudgeted(record.sourcePath, record.formatKind);
        const toolkit::Image& image = loaded.image;
        if (image.empty()) {
            record.resultState = ImageResult::LoadFailed;
            return;
        }
        if (need[Requirement::ColourCount]) {
            const std::int32_t colours = countDistinctColours(image);
            if (colours < 1) {
                record.resultState = ImageResult::LoadFailed;
                return;
            }
            record.colorCount = colours;
        }
        if (need[Requirement::Brightness]) {
            const double brightness = averageBrightness(image);
            if (!(brightness >= 0.0 && brightness <= 1.0)) {
                record.resultState = ImageResult::LoadFailed;
                return;
            }
            record.brightness = float(brightness);
        }
    }
}

} // namespace

std::int32_t countDistinctColours(const toolkit::Image& image) {
    if (image.empty()) return 0;
    // One bit per 24-bit colour: 2 MiB, independent of the image size.
    std::vector<std::uint64_t> seen(std::size_t(1) << 18, 0);
    std::int32_t count = 0;
    const int bpp = image.bytesPerPixel();
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* p = image.row(y);
        for (int x = 0; x < image.width(); ++x, p += bpp) {
            const std::uint32_t colour =
                std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16);
            std::uint64_t& word = seen[colour >> 6];
            const std::uint64_t bit = std::uint64_t(1) << (colour & 63);
            if (!(word & bit)) {
                word |= bit;
                ++count;
            }
        }
    }
    return count;
}

double averageBrightness(const toolkit::Image& image) {
    if (image.empty()) return -1.0;
    // Integer weights of 0.299, 0.587, 0.114 scaled by 1000, summed per row to stay exact.
    std::uint64_t total = 0;
    const int bpp = image.bytesPerPixel();
    for (int y = 0; y < image.height(); ++y) {
        const std::uint8_t* p = image.row(y);
        std::uint64_t rowSum = 0;
        for (int x = 0; x < image.width(); ++x, p += bpp)
            rowSum += 114u * p[0] + 587u * p[1] + 299u * p[2];
        total += rowSum;
    }
    const double pixels = double(image.width()) * double(image.height());
    return double(total) / (pixels * 1000.0 * 255.0);
}

void sortRecords(std::vector<ImageRecord>& records, settings::SortKey sortKey, bool ascending) {
    if (sortKey == settings::SortKey::Random) {
        std::shuffle(records.begin(), records.end(), std::mt19937{std::random_device{}()});
        return;
    }
    auto key = [sortKey](const ImageRecord& a, const ImageRecord& b) -> bool {
        switch (sortKey) {
        case settings::SortKey::FileName:
            return a.fileName < b.fileName;
        case settings::SortKey::FileSize:
            return a.fileSize < b.fileSize;
        case settings::SortKey::ImageDate:
            return a.recordedDate < b.recordedDate;
        case settings::SortKey::Width:
            return std::uint32_t(a.width) < std::uint32_t(b.width);
        case settings::SortKey::Height:
            return std::uint32_t(a.height) < std::uint32_t(b.height);
        case settings::SortKey::PixelCount:
            return a.pixelCount < b.pixelCount;
        case settings::SortKey::AspectRatio:
            return a.aspectRatio < b.aspectRatio;
        case settings::SortKey::ColourCount:
            return a.colorCount < b.colorCount;
        case settings::SortKey::Brightness:
            return a.brightness < b.brightness;
        default:
            return false;
        }
    };
    if (ascending)
        std::stable_sort(records.begin(), records.end(), key);
    else
        std::stable_sort(records.begin(), records.end(),
                         [&key](const ImageRecord& a, const ImageRecord& b) { return key(b, a); });
}

void prepare(PrepareEnvironment& env) {
    using namespace std::chrono_literals;
    // A short pause before the counter starts to move, so that the progress window (which
    // polls every 100 ms) has shown the preparation phase first.
    std::this_thread::sleep_for(75ms);

    const auto& s = env.settings;
    const std::string tasks = settings::taskTexts(env.run);
    const Needs need(s, tasks, env.images.size());

    // Details.
    bool cancelled = false;
    std::size_t first = 0;
    std::size_t end = env.images.size();
    if (env.previewRun) {
        const std::ptrdiff_t current = env.images.currentIndex();
        if (current < 0) return;
        first = std::size_t(current);
        end = first + 1;
    }
    for (std::size_t i = first; i < end; ++i) {
        readDetails(env.images[i], need);
        env.flags.progressCounter.fetch_add(1);
        if (!pipeline::mayGoOn(env.flags)) {
            cancelled = true;
            break;
        }
    }

    // Filter. Excluded records are marked and removed together afterwards, so the cost stays
    // linear in the length of the list.
    if (need[Requirement::Filtering] && !cancelled) {
        const imagefiles::ListOptions keepOptions{.includeHiddenFiles = true,
                                                  .videos = imagefiles::Videos::Included};
        auto& records = env.images.records();
        std::vector<std::uint8_t> excluded;
        for (std::size_t i = first; i < end && i < records.size(); ++i) {
            if (env.flags.runCancelled.load()) break;
            ImageRecord& record = records[i];
            if (record.resultState != ImageResult::Pending ||
                !settings::isExcludedByFilter(s, record)) {
                continue;
            }
            if (env.previewRun || env.markFiltered) {
                record.resultCode = imagefiles::DetailFiltered;
                continue;
            }
            if (s.keepFilteredImages && !s.exitAfterRun)
                (void)imagefiles::addImageRecord(record.sourcePath, env.keepList, keepOptions);
            excluded.resize(records.size(), 0);
            excluded[i] = 1;
        }
        if (!excluded.empty()) env.images.eraseMarked(excluded);
    }

    // Sorting.
    if (need[Requirement::Sorting] && !cancelled && !env.flags.runCancelled.load() &&
        !env.previewRun)
        sortRecords(env.images.records(), s.sortKey, s.sortAscending != 0);
}

} // namespace quill::batch
