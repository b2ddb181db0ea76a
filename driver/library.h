// What each codec library supplies to the shared driver: its identity and its
// codec objects. A library links exactly one definition of these.
#pragma once

#include "codec/codec.h"

struct LibraryIdentity {
    DWORD fourcc;                // compressed format: fccHandler, biCompression, szName
    const char16_t* description; // szDescription
    DWORD decodedCompression;    // biCompression of the proposed decompressed format
    WORD decodedBitCount;        // biBitCount of the proposed decompressed format
};

const LibraryIdentity& ThisLibrary();
// New codec objects of the library's variant, or null when memory runs out.
CEncoder* NewLibraryEncoder() noexcept;
CDecoder* NewLibraryDecoder() noexcept;
