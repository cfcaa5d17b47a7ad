#include "Cli.h"
#include "tavrin/decode/DecoderLog.h"
#include "tavrin/dsp/VectorOps.h"

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <malloc.h>
#include <unistd.h>

namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

} // namespace

int main(int argc, char** argv) {
    tavrin::silenceDecoderLog();
    // Every file's decoder and meter buffers (a few MB) would otherwise be mapped fresh and faulted
    // in page by page, which cost more than measuring a short file; kept in the heap, the next
    // file reuses them.
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    // For timing one instruction set against another (bench/compare).
    if (const char* simd = std::getenv("TAVRIN_SIMD"))
        tavrin::VectorOps::selectByName(simd);
    // Ctrl-C asks the work to stop at its next chunk, so a copy being written is removed.
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    const tavrin::cli::Terminal terminal{
        .colour = ::isatty(STDOUT_FILENO) && std::getenv("NO_COLOR") == nullptr,
        .progress = static_cast<bool>(::isatty(STDERR_FILENO)),
        .outputIsTerminal = static_cast<bool>(::isatty(STDOUT_FILENO)),
    };
    const std::vector<std::string> args(argv + 1, argv + argc);
    return tavrin::cli::run(args, std::cout, std::cerr, terminal, [] { return interrupted != 0; });
}
