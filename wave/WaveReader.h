// The reader's records, failure kinds and per-command state.
#pragma once

#include "wave/WaveFile.h"

#include <cstdint>

namespace tarvo {

// The first 16 bytes of the "fmt " chunk.
struct WaveFormat {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
};

enum class WaveReadError {
    None,
    WaveReadFailed,   // "Cannot read input WAVE file"
    WaveNotPcm8Mono,  // "Input file must be an 8-bit mono PCM WAVE file"
    WaveBufferError,  // "Unknown error", stop icon
};

const char* WaveErrorMessage(WaveReadError e);
unsigned WaveErrorBoxType(WaveReadError e);
inline constexpr const char* kWaveErrorCaption = "Error";

// What one command holds while it reads the file.
struct WaveInput {
    WaveFile file;
    ChunkInfo riff;
    ChunkInfo chunk;
    WaveFormat format;
    std::uint32_t dataSize = 0;
    BufferInfo buffer;
};

}  // namespace tarvo
