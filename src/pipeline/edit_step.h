// The step groups of the editing chain, which the progress of a run counts.
#pragma once

#include <cstdint>

namespace quill::pipeline {

/// The step groups of the chain, in their order; the chain reports each one once, whether it
/// ran or not.
enum class EditStep : std::uint8_t { Crop, Rotate, Resize, Colour, Canvas, Overlay };
/// How many step groups the chain reports: the last one's place plus one.
inline constexpr int kEditStepCount = int(EditStep::Overlay) + 1;

} // namespace quill::pipeline
