// AVIF encoder speed, size and quality next to our JPEG encoder at the same quality value.
//
//   avif_speed PHOTO.jpg [speeds...]
//
// PHOTO is a large photograph (e.g. 12 megapixels: `convert cat.jpg -resize 4000x3000! big.jpg`).
// For each encoder speed (default 6..10) and a few quality values it prints the encode time
// (processor time of the one thread), the file size and the SSIM on luma of the decoded file
// against the original, with the JPEG of the same value beside it, then our AVIF decode time. A
// second table gives, for every value 1..10, the mean SSIM and total bytes of JPEG and AVIF (at the
// speed files are written with) over small photographs of the shared test data.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>
#include <vector>

#include "imagefiles/avif_codec.h"
#include "imagefiles/jpeg_decoder.h"
#include "imagefiles/jpeg_encoder.h"
#include "ssim.h"
#include "toolkit/image.h"

namespace {

namespace files = quill::imagefiles;
using quill::toolkit::Image;

std::vector<std::uint8_t> readFile(const std::string& path) {
    std::vector<std::uint8_t> bytes;
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::uint8_t buffer[65536];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return bytes;
}

// Processor time of this thread: on a shared machine it shows what one core of its own would take.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

struct Result {
    double seconds = 0;
    std::size_t bytes = 0;
    double ssim = 0;
};

Result jpegAt(const Image& photo, int quality) {
    Result r;
    std::vector<std::uint8_t> out;
    const double start = threadSeconds();
    if (!files::encodeJpeg(photo.view(), quality, out)) return r;
    r.seconds = threadSeconds() - start;
    r.bytes = out.size();
    const Image decoded = files::decodeJpeg(out);
    r.ssim = quill::bench::ssim(photo.view(), decoded.view());
    return r;
}

Result avifAt(const Image& photo, int quality, int speed, std::vector<std::uint8_t>* keep) {
    Result r;
    std::vector<std::uint8_t> out;
    const double start = threadSeconds();
    if (!files::encodeAvifWith(photo.view(), files::avifQuantizerFor(quality), speed, out))
        return r;
    r.seconds = threadSeconds() - start;
    r.bytes = out.size();
    const Image decoded = files::decodeAvif(out, {});
    r.ssim = quill::bench::ssim(photo.view(), decoded.view());
    if (keep) *keep = std::move(out);
    return r;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PHOTO.jpg [speed...]\n", argv[0]);
        return 2;
    }
    const Image photo = files::decodeJpeg(readFile(argv[1]));
    if (photo.empty()) {
        std::fprintf(stderr, "cannot read %s as JPEG\n", argv[1]);
        return 1;
    }
    std::vector<int> speeds;
    for (int i = 2; i < argc; ++i)
        speeds.push_back(std::atoi(argv[i]));
    if (speeds.empty()) speeds = {6, 7, 8, 9, 10};

    std::printf("%d x %d photograph, one thread\n", photo.width(), photo.height());
    std::printf("speed value | AVIF s   bytes      SSIM   | JPEG s   bytes      SSIM\n");
    std::vector<std::uint8_t> sample;
    for (int speed : speeds) {
        for (int quality : {3, 5, 8, 10}) {
            const Result a = avifAt(photo, quality, speed, &sample);
            const Result j = jpegAt(photo, quality);
            std::printf("%5d %5d | %6.2f %10zu %.4f | %6.2f %10zu %.4f\n", speed, quality,
                        a.seconds, a.bytes, a.ssim, j.seconds, j.bytes, j.ssim);
            std::fflush(stdout);
        }
    }
    // Decoding the last file written (highest value, last speed), best of three.
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
        const double start = threadSeconds();
        const Image decoded = files::decodeAvif(sample, {});
        best = std::min(best, threadSeconds() - start);
        if (decoded.empty()) best = -1;
    }
    std::printf("decodeAvif of that file: %.3f s\n\n", best);

    // Mean SSIM over small photographs, per quality value, at the speed files are written with.
    const char* photos[] = {"jpeg/cat.jpg",
                            "jpeg/gimp_comment.jpeg",
                            "jpeg/progressive_3.jpg",
                            "jpeg/junk_jpeg_header.jpg",
                            "jpeg/pil_sample_rgb.jpg",
                            "exif/Canon_PowerShot_S40.jpg",
                            "exif/nokia_n70_iptc.jpg"};
    std::vector<Image> small;
    for (const char* name : photos) {
        Image image = files::decodeJpeg(readFile(std::string(QUILL_TESTDATA_DIR "/") + name));
        if (!image.empty()) small.push_back(std::move(image));
    }
    std::printf(
        "value quantizer | JPEG SSIM  bytes   | AVIF SSIM  bytes   (speed %d, %zu photos)\n",
        files::kAvifEncodeSpeed, small.size());
    for (int quality = 1; quality <= 10; ++quality) {
        double jpegSsim = 0, avifSsim = 0;
        std::size_t jpegBytes = 0, avifBytes = 0;
        for (const Image& image : small) {
            const Result j = jpegAt(image, quality);
            const Result a = avifAt(image, quality, files::kAvifEncodeSpeed, nullptr);
            jpegSsim += j.ssim;
            avifSsim += a.ssim;
            jpegBytes += j.bytes;
            avifBytes += a.bytes;
        }
        const double n = double(small.size());
        std::printf("%5d %9d | %.4f %9zu | %.4f %9zu\n", quality, files::avifQuantizerFor(quality),
                    jpegSsim / n, jpegBytes, avifSsim / n, avifBytes);
    }
    return 0;
}
