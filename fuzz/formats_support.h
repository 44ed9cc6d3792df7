// The spectrum-file readers of formats/ under the fuzzer: one target per
// format reads the input as that format.  A refusal must be a FormatError
// naming the file with a message.  An accepted spectrum must hold what the
// record promises (whole counts, positive times with the live time not
// above the real time, a rising calibration) and go on: written as the
// measured .csv of `tarvik import` (or refused with an ImportError), that
// file read back by this library and by the front end's own reader with
// the same counts, and drawn on the display through "他の形式を開く…".
#pragma once

#include "formats/spectrum.h"

#include <cstddef>
#include <cstdint>

namespace fuzzsupport {

void exerciseSpectrumFile(const std::uint8_t* data, std::size_t size, formats::Format format);

} // namespace fuzzsupport
