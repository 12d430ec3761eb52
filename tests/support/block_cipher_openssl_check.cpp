// The cipher's Blowfish against OpenSSL's C interface: a 7-byte BF_set_key gives the same
// subkeys and S-boxes as CreateCipher, and BF_encrypt on the little-endian halves the same
// blocks. Built only where OpenSSL is found.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>

#include <gtest/gtest.h>

#include <random>

#include "support/block_cipher.h"

using namespace support;

namespace {

uint32_t Word(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

TEST(BlowfishAgainstOpenSsl, SevenByteKeyScheduleAndBlocks) {
    std::mt19937 generator(7);
    for (int round = 0; round < 50; ++round) {
        uint8_t key[kCipherKeySize];
        for (uint8_t& byte : key) byte = static_cast<uint8_t>(generator());
        CipherContext* context = CreateCipher(key);
        ASSERT_NE(context, nullptr);
        BF_KEY reference;
        BF_set_key(&reference, 7, key);
        for (int i = 0; i < 18; ++i) ASSERT_EQ(context->subkeys[i], reference.P[i]) << "P" << i;
        for (int box = 0; box < 4; ++box)
            for (int i = 0; i < 256; ++i) ASSERT_EQ(context->sboxes[box][i], reference.S[256 * box + i]);

        uint8_t block[8];
        for (uint8_t& byte : block) byte = static_cast<uint8_t>(generator());
        BF_LONG halves[2] = {Word(block), Word(block + 4)};
        BF_encrypt(halves, &reference);
        EncryptBlock(context, block);
        EXPECT_EQ(Word(block), halves[0]);
        EXPECT_EQ(Word(block + 4), halves[1]);
        DestroyCipher(context);
    }
}

}  // namespace
