#include "support/block_cipher.h"

#include <cstring>
#include <random>

#include "platform/platform.h"
#include "support/blowfish_tables.h"
#include "support/crc32.h"
#include "support/date_time_converter.h"

namespace support {

namespace {

constexpr uint8_t kZeroReplacement = 0xA9;

uint32_t LittleEndianWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

void PutLittleEndianWord(uint32_t word, uint8_t* bytes) {
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<uint8_t>(word >> (8 * i));
}

uint32_t BigEndianWord(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) << 24 | static_cast<uint32_t>(bytes[1]) << 16 |
           static_cast<uint32_t>(bytes[2]) << 8 | static_cast<uint32_t>(bytes[3]);
}

uint32_t F(const CipherContext& c, uint32_t x) {
    return ((c.sboxes[0][x >> 24] + c.sboxes[1][(x >> 16) & 0xFF]) ^ c.sboxes[2][(x >> 8) & 0xFF]) +
           c.sboxes[3][x & 0xFF];
}

void EncryptHalves(const CipherContext& c, uint32_t& left, uint32_t& right) {
    uint32_t l = left, r = right;
    for (int i = 0; i < 16; i += 2) {
        l ^= c.subkeys[i];
        r ^= F(c, l);
        r ^= c.subkeys[i + 1];
        l ^= F(c, r);
    }
    left = r ^ c.subkeys[17];
    right = l ^ c.subkeys[16];
}

void Refill(CipherContext* context) {
    std::memcpy(context->keystreamBlock, context->feedbackBlock, 8);
    EncryptBlock(context, context->keystreamBlock);
    context->blockPosition = 0;
}

// The stream state is worked on in locals: the buffer's bytes may alias the context, and would
// otherwise make the compiler reload it after every byte.
template <bool kEncrypt>
void FeedbackBytes(CipherContext* c, uint8_t* bytes, size_t count) {
    uint8_t keystream[8], feedback[8];
    std::memcpy(keystream, c->keystreamBlock, 8);
    std::memcpy(feedback, c->feedbackBlock, 8);
    uint32_t position = c->blockPosition;
    size_t i = 0;
    while (i < count) {
        if (position == 0 && count - i >= 8) {
            for (int k = 0; k < 8; ++k) {
                const uint8_t in = bytes[i + k];
                const uint8_t out = static_cast<uint8_t>(in ^ keystream[k]);
                feedback[k] = kEncrypt ? out : in;
                bytes[i + k] = out;
            }
            i += 8;
        } else {
            const uint8_t in = bytes[i];
            const uint8_t out = static_cast<uint8_t>(in ^ keystream[position]);
            feedback[position] = kEncrypt ? out : in;
            bytes[i++] = out;
            if (++position < 8) continue;
        }
        std::memcpy(keystream, feedback, 8);
        EncryptBlock(c, keystream);
        position = 0;
    }
    std::memcpy(c->keystreamBlock, keystream, 8);
    std::memcpy(c->feedbackBlock, feedback, 8);
    c->blockPosition = position;
}

template <bool kEncrypt>
void PadBytes(CipherContext* c, uint8_t* bytes, size_t count) {
    uint8_t pad[kCipherKeySize];
    std::memcpy(pad, c->pad, sizeof pad);
    uint32_t position = c->padPosition;
    uint8_t previous = c->previous;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t in = bytes[i];
        const uint8_t out = static_cast<uint8_t>(in ^ pad[position] ^ previous);
        previous = kEncrypt ? out : in;
        bytes[i] = out;
        position = (position + 1) % kCipherKeySize;
    }
    c->padPosition = position;
    c->previous = previous;
}

template <bool kEncrypt>
void Process(CipherContext* context, void* buffer, size_t count) {
    if (!context || !buffer) return;
    auto* bytes = static_cast<uint8_t*>(buffer);
    if (context->mode == static_cast<uint32_t>(kCipherModeFeedback))
        FeedbackBytes<kEncrypt>(context, bytes, count);
    else
        PadBytes<kEncrypt>(context, bytes, count);
}

// 32 bytes from the system's generator; failing that, the low bytes of the runtime's generator
// seeded with the tick count.
void RandomKeyBytes(uint8_t (&bytes)[kCipherKeySize]) {
    if (platform::RandomBytes(bytes, sizeof bytes)) return;
    std::minstd_rand generator(platform::TickCount());
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(generator());
}

}  // namespace

void SetBlowfishKey(CipherContext* c, const uint8_t* key, size_t length) {
    for (int i = 0; i < 18; ++i) c->subkeys[i] = BigEndianWord(kBlowfishInitialTables + 4 * i);
    for (int box = 0; box < 4; ++box)
        for (int i = 0; i < 256; ++i) c->sboxes[box][i] = BigEndianWord(kBlowfishInitialTables + 4 * (18 + 256 * box + i));
    size_t next = 0;
    for (uint32_t& subkey : c->subkeys) {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i) {
            word = word << 8 | key[next];
            next = (next + 1) % length;
        }
        subkey ^= word;
    }
    uint32_t left = 0, right = 0;
    for (int i = 0; i < 18; i += 2) {
        EncryptHalves(*c, left, right);
        c->subkeys[i] = left;
        c->subkeys[i + 1] = right;
    }
    for (auto& box : c->sboxes)
        for (int i = 0; i < 256; i += 2) {
            EncryptHalves(*c, left, right);
            box[i] = left;
            box[i + 1] = right;
        }
}

void EncryptBlock(const CipherContext* context, uint8_t* block) {
    uint32_t left = LittleEndianWord(block), right = LittleEndianWord(block + 4);
    EncryptHalves(*context, left, right);
    PutLittleEndianWord(left, block);
    PutLittleEndianWord(right, block + 4);
}

uint8_t* MakeCipherKey(uint8_t* keyOut) {
    uint8_t packedBytes[4];
    {
        const DateTimeConverter converter;
        PutLittleEndianWord(converter.CurrentPackedTime(), packedBytes);
    }
    const uint32_t mixing = Crc32(packedBytes, sizeof packedBytes);
    uint8_t key[kCipherKeySize];
    RandomKeyBytes(key);
    for (size_t word = 0; word < kCipherKeySize; word += 4) PutLittleEndianWord(LittleEndianWord(key + word) ^ mixing, key + word);
    for (uint8_t& byte : key)
        if (byte == 0) byte = kZeroReplacement;
    std::memcpy(keyOut, key, sizeof key);
    return keyOut;
}

CipherContext* CreateCipher(const uint8_t* key) {
    auto* context = static_cast<CipherContext*>(platform::Allocate(sizeof(CipherContext)));
    if (!context) return nullptr;
    std::memset(context, 0, sizeof *context);
    std::memcpy(context->key, key, kCipherKeySize);
    std::memcpy(context->pad, key, kCipherKeySize);
    for (size_t word = 0; word < kCipherKeySize; word += 4) {
        uint8_t* bytes = context->pad + word;
        PutLittleEndianWord(LittleEndianWord(bytes) ^ Crc32(bytes, 4), bytes);
    }
    SetBlowfishKey(context, context->key, kCipherScheduleKeyBytes);
    return context;
}

void StartCipher(CipherContext* context, int32_t mode, int32_t keyBits) {
    if (!context) return;
    context->padPosition = 0;
    context->previous = 0;
    if (mode == kCipherModeFeedback && keyBits != 0) {
        context->mode = static_cast<uint32_t>(kCipherModeFeedback);
        context->keyBits = static_cast<uint32_t>(keyBits);
        std::memcpy(context->feedbackBlock, context->key, kCipherScheduleKeyBytes);
        context->feedbackBlock[7] = 0;
        Refill(context);
    } else {
        context->mode = static_cast<uint32_t>(kCipherModePad);
        context->keyBits = 0;
    }
}

void EncryptBytes(CipherContext* context, void* buffer, size_t count) { Process<true>(context, buffer, count); }

void DecryptBytes(CipherContext* context, void* buffer, size_t count) { Process<false>(context, buffer, count); }

void EndCipher(CipherContext*) {}

void DestroyCipher(CipherContext* context) { platform::Free(context); }

}  // namespace support
