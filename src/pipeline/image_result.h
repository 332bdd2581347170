// The result of one image of a batch run and the detail code naming the operation that failed.
#pragma once

#include <cstdint>

namespace quill::pipeline {

/// Stored in `ImageRecord::resultState`.
enum class ImageResult : std::uint8_t {
    Pending = 0,           ///< not processed (yet)
    Done = 1,              ///< processed and written
    Unreadable = 2,        ///< file missing or shorter than 35 bytes
    SkippedExisting = 3,   ///< the output exists and the user or policy chose not to overwrite
    SameAsSource = 4,      ///< the output path equals the source path while an output dir is used
    LoadFailed = 5,        ///< the decoder did not deliver an image
    StepFailed = 6,        ///< an operation failed; the detail code names it
    UnsupportedFormat = 7, ///< the output format is one the program cannot write
    WriteFailed = 8,       ///< writing, copying, moving or the PDF wrap failed
};

/// Detail codes stored in `ImageRecord::resultCode`, meaningful with StepFailed.
enum DetailCode : std::int32_t {
    DetailNone = 0,
    DetailFiltered = 1,   ///< preview run only: the filter conditions excluded the image
    DetailCrop = 2,       ///< crop or automatic trim
    DetailRotate = 3,     ///< rotate or flip
    DetailResize = 4,     ///< resize
    DetailColour = 5,     ///< colour adjustment
    DetailCanvas = 6,     ///< canvas
    DetailOverlay = 7,    ///< text or image overlay
    DetailMetadata = 9,   ///< removing metadata or writing the comment into the output
    DetailFileDates = 10, ///< setting the output's file dates or attributes
    DetailNumbering = 12, ///< no number could be given to the name
};

} // namespace quill::pipeline
