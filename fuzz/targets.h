// The fuzz targets' entry functions. Each accepts any byte string and returns
// 0; it aborts, or a sanitizer stops it, only on a fault of the codec. The fuzz
// programs (fuzz/fuzz_*.cpp) and the replay test run the same functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace tarv_fuzz {

// CRangeCoder16::Decode. Input: 3 bytes capacity in samples (little-endian,
// modulo 2^20 + 1), 1 byte of table size and extra DecodeSymbol calls, then
// the payload.
int RangeDecoder(const uint8_t* data, size_t size);

// DECOMPRESS_QUERY, DECOMPRESS_BEGIN and ICM_DECOMPRESS through DriverProc.
// Input: library and steps, width, height, output header, then the payload.
int Decompress(const uint8_t* data, size_t size);

// A sequence of DriverProc calls; the layout is in fuzz/harness.h.
int Messages(const uint8_t* data, size_t size);

// A frame of either library through Compress and Decompress must come back
// exact and, when the input asks, compress to the same bytes again after
// another frame. Input: library, format and checks, width, height, pixels.
int Roundtrip(const uint8_t* data, size_t size);

// The GStreamer element's AVI reader (gst/avi_header.h): the header and the
// frame chunks of every stream choice. Input: an AVI file.
int AviHeader(const uint8_t* data, size_t size);

// A payload into a picture, as the GStreamer element, the VLC module and the
// tool decode it (variants/parallel_decoder.h). Input: variant, row pitch and
// pixel order, width, height, then the payload.
int PicturePayload(const uint8_t* data, size_t size);

struct TargetEntry {
    const char* name; // the fuzz program's name, and its corpus folders'
    int (*run)(const uint8_t*, size_t);
};
std::span<const TargetEntry> AllTargets();

struct Seed {
    std::string target;
    std::string name;
    std::vector<uint8_t> bytes;
};
// Inputs that reach deep into each target: real compressed frames, their
// payloads, and the calls of a host compressing and decompressing a stream.
std::vector<Seed> MakeSeeds();

} // namespace tarv_fuzz
