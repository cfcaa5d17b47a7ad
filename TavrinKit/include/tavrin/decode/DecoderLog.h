#pragma once

namespace tavrin {

/// Keeps the decoding library's own diagnostics off stderr for the whole process: the kit reports
/// through its errors only. A program calls it once at its start; the kit never sets it itself.
void silenceDecoderLog();

} // namespace tavrin
