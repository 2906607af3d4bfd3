// A PNG writer for 8-bit RGBA images: IHDR, IDAT and IEND only, each row
// filtered by the adaptive rule below, one zlib stream.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/result.h"

namespace cmx::render {

// `rgba` holds width × height straight-alpha pixels. Each row takes the
// filter of Up, Sub, Average and Paeth, tried in that order, whose bytes read
// as signed have the least sum of magnitudes (a later one wins a tie; a zero
// sum stops the search). Fails with zlib's message.
Result<std::string, std::string> encode_png(std::span<const uint8_t> rgba, uint32_t width, uint32_t height);

}  // namespace cmx::render
