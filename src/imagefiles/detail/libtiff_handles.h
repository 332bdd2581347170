// What the TIFF decoder and encoder both hand libtiff: owners of its handles, and options that
// keep its messages to itself (a failure is told by the return value; the messages would only
// reach standard error).
#pragma once

#include <cstdarg>
#include <memory>

#include <tiffio.h>

namespace quill::imagefiles::detail {

struct TiffCloser {
    void operator()(TIFF* tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

struct TiffOptionsFree {
    void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
using TiffOptions = std::unique_ptr<TIFFOpenOptions, TiffOptionsFree>;

/// Open options whose error and warning handlers say nothing; null when libtiff has no memory.
inline TiffOptions quietTiffOptions() {
    TiffOptions options(TIFFOpenOptionsAlloc());
    if (!options) return options;
    const auto quiet = [](TIFF*, void*, const char*, const char*, va_list) { return 1; };
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), quiet, nullptr);
    return options;
}

} // namespace quill::imagefiles::detail
