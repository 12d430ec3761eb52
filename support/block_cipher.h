// A byte-stream cipher of the support library: a context made from a 32-byte key, with two
// stream modes, a chained XOR pad and Blowfish (16 rounds, the standard tables) in 64-bit cipher
// feedback. Blocks are taken as two little-endian 32-bit words, the first four bytes the left
// half: a block's encryption is standard Blowfish on the block with each 4-byte word reversed,
// the result reversed back. Only the first 7 key bytes enter the Blowfish key schedule.
#pragma once

#include <cstddef>
#include <cstdint>

namespace support {

constexpr size_t kCipherKeySize = 32;
constexpr int32_t kCipherModePad = 1;       // chained XOR pad
constexpr int32_t kCipherModeFeedback = 2;  // Blowfish in 64-bit cipher feedback
constexpr size_t kCipherScheduleKeyBytes = 7;

// One heap block, zero-filled at creation, owned by the caller until DestroyCipher.
struct CipherContext {
    uint32_t mode;
    uint32_t keyBits;  // as StartCipher was given it; it does not change the computation
    uint32_t padPosition;  // 0 to 31
    uint8_t previous;      // the previous ciphertext byte of the XOR pad
    uint8_t feedbackBlock[8];   // the ciphertext block being collected
    uint8_t keystreamBlock[8];  // the encryption of the previous feedback block
    uint32_t blockPosition;     // 0 to 7
    uint8_t key[kCipherKeySize];
    uint8_t pad[kCipherKeySize];  // each key word XOR the CRC-32 of its own four bytes
    uint32_t subkeys[18];
    uint32_t sboxes[4][256];
};

// Fills `keyOut` (32 bytes) with a new random key that holds no zero byte; returns `keyOut`.
// The bytes come from the system's generator for keys (the runtime's generator seeded with the
// tick count when the system has none), mixed with the CRC-32 of the packed local time.
uint8_t* MakeCipherKey(uint8_t* keyOut);

// A new context for the 32-byte `key`, or null when the memory cannot be had.
CipherContext* CreateCipher(const uint8_t* key);
// Starts or restarts a stream: block feedback for mode 2 with keyBits != 0, else the XOR pad
// (mode stored as 1, keyBits as 0).
void StartCipher(CipherContext* context, int32_t mode, int32_t keyBits);
// Encrypt / decrypt `count` bytes in place, continuing the stream where the last call stopped.
void EncryptBytes(CipherContext* context, void* buffer, size_t count);
void DecryptBytes(CipherContext* context, void* buffer, size_t count);
// Does nothing; the stream needs no ending.
void EndCipher(CipherContext* context);
void DestroyCipher(CipherContext* context);

// The Blowfish key schedule for `length` key bytes (1 to 56) into the context's subkeys and
// S-boxes. CreateCipher uses the key's first 7 bytes; other lengths serve tests and tools.
void SetBlowfishKey(CipherContext* context, const uint8_t* key, size_t length);
// Encrypts one 8-byte block in place with the context's key schedule.
void EncryptBlock(const CipherContext* context, uint8_t* block);

}  // namespace support
