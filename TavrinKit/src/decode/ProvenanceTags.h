#pragma once

// Private to TavrinKit: the provenance record among the tags of a file already open.

#include "decode/FfmpegReader.h"
#include "tavrin/decode/Provenance.h"

#include <optional>

namespace tavrin {

/// The record `reader`'s file carries; absent when it carries none.
std::optional<Provenance> provenanceOf(const FfmpegReader& reader);

} // namespace tavrin
