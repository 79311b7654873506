// Published hash algorithms the engine implements itself.
#pragma once
#include <cstddef>
#include <cstdint>

// MurmurHash3, x86 32-bit variant.
uint32_t MurmurHash3_String(const void* bytes, size_t length, uint32_t seed);
// The same over a NUL-terminated text with seed 0 (a null text hashes as the empty one).
uint32_t MurmurHash3_CString(const char* text);

// CRC-32 over the reflected polynomial 0xEDB88320 with the start value 0xFFFFFFFF and no final inversion:
// every result is the complement of the usual CRC-32.
void CRC32_Init();  // the table is built at compile time; kept for the start-up order
uint32_t CRC32_String(const char* text);  // up to the NUL; null and empty give 0xFFFFFFFF
uint32_t CRC32_Buffer(const void* bytes, size_t length);

// Base64 with the standard alphabet and '=' padding.
// Writes 4 characters per 3 bytes (the last group padded) and a NUL: out holds 4 * ceil(length / 3) + 1.
void Base64_Encode(const void* bytes, size_t length, char* out);
// Decodes up to the first '=', the first character outside the alphabet or the end; writes at most
// capacity - 1 bytes and, with terminate, a NUL after them (capacity 0 writes nothing). Returns the count.
int32_t Base64_Decode(const char* text, int32_t capacity, uint8_t* out, bool terminate);

// MD5; the digest is in the context after MD5_Final.
struct MD5Context {
    uint32_t bitCountLow, bitCountHigh;
    uint32_t state[4];
    uint8_t block[64];
    uint8_t digest[16];
};
void MD5_Init(MD5Context* context);
void MD5_Update(MD5Context* context, const void* bytes, size_t length);
void MD5_Final(MD5Context* context);

// SHA-1; the digest is H0..H4 after SHA1_Result.
struct SHA1Context {
    uint32_t h[5];
    uint32_t lengthLow, lengthHigh;  // message length in bits
    uint8_t block[64];
    int32_t blockIndex;
    int32_t computed;
    int32_t corrupted;
};
void SHA1_Reset(SHA1Context* context);
// Input after the result was taken, or past 2^64 - 1 bits, marks the context corrupted.
void SHA1_Input(SHA1Context* context, const void* bytes, size_t length);
// False for a corrupted context; pads only the first time.
bool SHA1_Result(SHA1Context* context);

// The low 32 bits of a 64-bit file position.
uint32_t FilePos_Low32(int64_t position);
