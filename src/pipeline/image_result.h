// The result codes of one image, under the pipeline's names; they live beside ImageRecord.
#pragma once

#include "imagefiles/image_record.h"

namespace quill::pipeline {

using imagefiles::DetailCode;
using imagefiles::ImageResult;
using enum imagefiles::DetailCode;

} // namespace quill::pipeline
