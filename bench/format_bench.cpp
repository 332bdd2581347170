// The writable formats of the format table side by side.
//   format_bench --quality-table PHOTO...
//       for every lossy writable format and each quality value 1..10: the mean SSIM of the
//       decoded output against the source (bench/ssim.h) and the total bytes, next to JPEG at the
//       same value, so that the quality mapping of each encoder can be checked.
//   format_bench --time-encode=EXT --source=FILE [--quality=N] [--rounds=N] [--out=FILE]
//       the median milliseconds of encoding FILE's pixels into the format of extension EXT (in
//       memory, as a run's worker does); --out keeps the last result for the reference decoders.
// Decoding times are measured by decode_bench --time-decode, which loads any readable format.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "imagefiles/format.h"
#include "imagefiles/image_loader.h"
#include "imagefiles/image_saver.h"
#include "ssim.h"
#include "toolkit/image.h"

namespace {

using namespace quill::imagefiles;
using quill::toolkit::Image;

Image decodeBytes(const FormatInfo& format, const std::vector<std::uint8_t>& bytes) {
    if (format.decode == nullptr) return {};
    return format.decode(Bytes(bytes.data(), bytes.size()), DecodeRequest{});
}

int qualityTable(const std::vector<std::string>& photos) {
    std::vector<Image> sources;
    for (const std::string& path : photos) {
        Image image = loadImageFile(path, FormatKind::None);
        if (image.empty()) {
            std::fprintf(stderr, "cannot read %s\n", path.c_str());
            return 1;
        }
        // SSIM compares 8 x 8 windows: a smaller picture would count as 0.
        if (image.width() < 8 || image.height() < 8) {
            std::fprintf(stderr, "%s is too small to measure\n", path.c_str());
            return 1;
        }
        sources.push_back(image.toBgr24());
    }
    const FormatInfo* jpeg = formatInfo(FormatKind::Jpeg);
    std::printf("format\tvalue\tSSIM\tbytes\tJPEG SSIM\tJPEG bytes\n");
    for (const FormatInfo& format : formatTable()) {
        if (!format.writable || format.quality == QualityScale::None ||
            format.kind == FormatKind::Jpeg)
            continue;
        for (int value = 1; value <= 10; ++value) {
            double ssimSum = 0;
            double jpegSsimSum = 0;
            std::size_t bytes = 0;
            std::size_t jpegBytes = 0;
            for (const Image& source : sources) {
                EncodeOptions options;
                options.quality = value;
                const auto encoded = encodeImage(source, format.encoder, options, 24);
                const auto jpegEncoded = encodeImage(source, Encoder::Jpeg, options, 24);
                if (!encoded || !jpegEncoded) return 1;
                const Image decoded = decodeBytes(format, *encoded);
                const Image jpegDecoded = decodeBytes(*jpeg, *jpegEncoded);
                if (decoded.empty() || jpegDecoded.empty()) return 1;
                ssimSum += quill::bench::ssim(source.view(), decoded.toBgr24().view());
                jpegSsimSum += quill::bench::ssim(source.view(), jpegDecoded.view());
                bytes += encoded->size();
                jpegBytes += jpegEncoded->size();
            }
            const double n = double(sources.size());
            std::printf("%.*s\t%d\t%.4f\t%zu\t%.4f\t%zu\n", int(format.name.size()),
                        format.name.data(), value, ssimSum / n, bytes, jpegSsimSum / n, jpegBytes);
        }
    }
    return 0;
}

int timeEncode(const std::string& extension, const std::string& sourcePath, int quality, int rounds,
               const std::string& outPath) {
    const FormatKind kind = detectFormatByExtension("x." + extension, Videos::Excluded);
    const FormatInfo* format = formatInfo(kind);
    if (format == nullptr || !format->writable) {
        std::fprintf(stderr, "no writable format has the extension %s\n", extension.c_str());
        return 1;
    }
    const Image source = loadImageFile(sourcePath, FormatKind::None);
    if (source.empty()) return 1;
    EncodeOptions options;
    options.quality = quality;
    std::vector<double> ms;
    std::vector<std::uint8_t> last;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        auto encoded = encodeImage(source, format->encoder, options, source.hasAlpha() ? 32 : 24);
        const auto end = std::chrono::steady_clock::now();
        if (!encoded) return 1;
        ms.push_back(std::chrono::duration<double, std::milli>(end - start).count());
        last = std::move(*encoded);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%.1f\n", ms[ms.size() / 2]);
    if (!outPath.empty()) {
        std::ofstream out(outPath, std::ios::binary);
        out.write(reinterpret_cast<const char*>(last.data()), std::streamsize(last.size()));
        if (!out) return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> photos;
    std::string encodeExtension;
    std::string source;
    std::string out;
    bool table = false;
    int quality = 8;
    int rounds = 3;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quality-table")
            table = true;
        else if (arg.rfind("--time-encode=", 0) == 0)
            encodeExtension = arg.substr(14);
        else if (arg.rfind("--source=", 0) == 0)
            source = arg.substr(9);
        else if (arg.rfind("--out=", 0) == 0)
            out = arg.substr(6);
        else if (arg.rfind("--quality=", 0) == 0)
            quality = std::atoi(arg.c_str() + 10);
        else if (arg.rfind("--rounds=", 0) == 0)
            rounds = std::max(1, std::atoi(arg.c_str() + 9));
        else
            photos.push_back(arg);
    }
    if (table) return qualityTable(photos);
    if (!encodeExtension.empty()) return timeEncode(encodeExtension, source, quality, rounds, out);
    std::fprintf(stderr, "usage: format_bench --quality-table PHOTO... | --time-encode=EXT "
                         "--source=FILE [--quality=N] [--rounds=N] [--out=FILE]\n");
    return 2;
}
