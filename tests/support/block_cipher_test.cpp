#include "support/block_cipher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/testing/fault_injection.h"
#include "support/crc32.h"

using namespace support;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes FromHex(const std::string& hex) {
    Bytes bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Published vectors are for big-endian halves; this cipher takes little-endian ones.
Bytes ReverseWords(Bytes block) {
    for (size_t i = 0; i + 4 <= block.size(); i += 4) {
        std::swap(block[i], block[i + 3]);
        std::swap(block[i + 1], block[i + 2]);
    }
    return block;
}

struct ContextDeleter {
    void operator()(CipherContext* context) const { DestroyCipher(context); }
};
using Context = std::unique_ptr<CipherContext, ContextDeleter>;

Context Make(const Bytes& key, int32_t mode, int32_t keyBits = 56) {
    Context context(CreateCipher(key.data()));
    if (context) StartCipher(context.get(), mode, keyBits);
    return context;
}

Bytes KeyOf(uint32_t seed) {
    std::mt19937 generator(seed);
    Bytes key(kCipherKeySize);
    for (uint8_t& byte : key) byte = static_cast<uint8_t>(generator());
    return key;
}

Bytes TextOf(size_t size) {
    Bytes text(size);
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<uint8_t>(i * 7 + 3);
    return text;
}

TEST(Blowfish, BlocksMatchThePublishedVectorsInThisWordOrder) {
    struct Vector {
        const char* key;
        const char* plain;
        const char* cipher;
    };
    const Vector vectors[] = {
        {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
        {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
        {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
        {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
        {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
        {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
        {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
        {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
        {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    };
    Context context = Make(Bytes(kCipherKeySize, 1), kCipherModePad);
    for (const Vector& v : vectors) {
        const Bytes key = FromHex(v.key);
        SetBlowfishKey(context.get(), key.data(), key.size());
        Bytes block = ReverseWords(FromHex(v.plain));
        EncryptBlock(context.get(), block.data());
        EXPECT_EQ(ReverseWords(block), FromHex(v.cipher)) << v.key;
    }
}

// The variable-key-length vectors: plaintext FEDCBA9876543210 under the first n bytes of one
// key. CreateCipher must schedule exactly the first seven bytes of its 32-byte key.
TEST(Blowfish, KeyScheduleOfShortKeysAndTheSevenBytesCreateCipherUses) {
    const Bytes prefix = FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    const char* ciphers[] = {"F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
                             "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82"};
    const Bytes plain = ReverseWords(FromHex("FEDCBA9876543210"));
    Context context = Make(Bytes(kCipherKeySize, 1), kCipherModePad);
    for (size_t length = 1; length <= 8; ++length) {
        SetBlowfishKey(context.get(), prefix.data(), length);
        Bytes block = plain;
        EncryptBlock(context.get(), block.data());
        EXPECT_EQ(ReverseWords(block), FromHex(ciphers[length - 1])) << length << " key bytes";
    }

    Bytes key = prefix;
    key.resize(kCipherKeySize, 0x5A);
    Context created = Make(key, kCipherModePad);
    Bytes block = plain;
    EncryptBlock(created.get(), block.data());
    EXPECT_EQ(ReverseWords(block), FromHex(ciphers[6]));
}

TEST(CipherStream, AnySplitIntoCallsGivesTheSameTextAndAFreshContextDecrypts) {
    const Bytes key = KeyOf(1);
    const Bytes plain = TextOf(1000);
    for (int32_t mode : {kCipherModePad, kCipherModeFeedback}) {
        Bytes whole = plain;
        Context one = Make(key, mode);
        EncryptBytes(one.get(), whole.data(), whole.size());
        EXPECT_NE(whole, plain);

        Bytes pieces = plain;
        Context many = Make(key, mode);
        const size_t sizes[] = {1, 7, 0, 8, 9, 31, 32, 33, 64, 3};
        size_t done = 0;
        for (size_t i = 0; done < pieces.size(); ++i) {
            const size_t size = std::min(sizes[i % std::size(sizes)], pieces.size() - done);
            EncryptBytes(many.get(), pieces.data() + done, size);
            done += size;
        }
        EXPECT_EQ(pieces, whole) << "mode " << mode;

        Context decrypting = Make(key, mode);
        DecryptBytes(decrypting.get(), pieces.data(), 500);
        DecryptBytes(decrypting.get(), pieces.data() + 500, 500);
        EXPECT_EQ(pieces, plain) << "mode " << mode;
        EndCipher(decrypting.get());
    }
}

TEST(CipherStream, BlockFeedbackIsCipherFeedbackFromTheKeysFirstSevenBytes) {
    const Bytes key = KeyOf(2);
    const Bytes plain = TextOf(16);
    Bytes cipher = plain;
    Context context = Make(key, kCipherModeFeedback);
    EncryptBytes(context.get(), cipher.data(), cipher.size());

    Bytes vector(key.begin(), key.begin() + 7);
    vector.push_back(0);
    EncryptBlock(context.get(), vector.data());
    for (size_t i = 0; i < 8; ++i) EXPECT_EQ(cipher[i], plain[i] ^ vector[i]) << i;
    Bytes next(cipher.begin(), cipher.begin() + 8);
    EncryptBlock(context.get(), next.data());
    for (size_t i = 8; i < 16; ++i) EXPECT_EQ(cipher[i], plain[i] ^ next[i - 8]) << i;

    // Only those seven bytes count: a key that differs after them encrypts alike.
    Bytes other = key;
    for (size_t i = 7; i < kCipherKeySize; ++i) other[i] ^= 0xFF;
    Bytes again = plain;
    Context alike = Make(other, kCipherModeFeedback);
    EncryptBytes(alike.get(), again.data(), again.size());
    EXPECT_EQ(again, cipher);
}

TEST(CipherStream, XorPadIsTheKeyMixedWithCrcAndWrapsAfter32Bytes) {
    const Bytes key = KeyOf(3);
    Bytes cipher(33, 0);
    Context context = Make(key, kCipherModePad);
    EncryptBytes(context.get(), cipher.data(), cipher.size());
    // On zeros each byte is pad[i] XOR the previous ciphertext byte.
    const uint32_t crc = Crc32(key.data(), 4);
    EXPECT_EQ(cipher[0], static_cast<uint8_t>(key[0] ^ crc));
    EXPECT_EQ(cipher[32] ^ cipher[31], cipher[0]);  // the 33rd byte uses pad byte 0 again

    Bytes other = key;
    other[31] ^= 1;
    Bytes differs(33, 0);
    Context second = Make(other, kCipherModePad);
    EncryptBytes(second.get(), differs.data(), differs.size());
    EXPECT_NE(differs, cipher);  // unlike block feedback, the pad uses the whole key
}

TEST(CipherStream, StartCipherChoosesTheModeAndRestartsTheStream) {
    struct Case {
        int32_t mode, keyBits;
        uint32_t storedMode, storedBits;
    };
    const Case cases[] = {{2, 56, 2, 56}, {2, 0, 1, 0}, {1, 56, 1, 0}, {7, 56, 1, 0}, {0, 0, 1, 0}};
    const Bytes key = KeyOf(4);
    for (const Case& c : cases) {
        Context context = Make(key, c.mode, c.keyBits);
        EXPECT_EQ(context->mode, c.storedMode) << c.mode << "/" << c.keyBits;
        EXPECT_EQ(context->keyBits, c.storedBits) << c.mode << "/" << c.keyBits;
    }
    for (int32_t mode : {kCipherModePad, kCipherModeFeedback}) {
        Context context = Make(key, mode);
        Bytes first = TextOf(20), second = TextOf(20);
        EncryptBytes(context.get(), first.data(), first.size());
        StartCipher(context.get(), mode, 56);
        EncryptBytes(context.get(), second.data(), second.size());
        EXPECT_EQ(first, second) << "mode " << mode;
    }
}

TEST(CipherContextMemory, CreateCipherFailsWhenMemoryCannotBeHad) {
    platform::InjectFault(platform::CallKind::Allocate, 1);
    const Bytes key = KeyOf(5);
    EXPECT_EQ(CreateCipher(key.data()), nullptr);
    platform::ClearFaults();
}

TEST(MakeCipherKey, KeysHoldNoZeroByteAndDiffer) {
    // 6,400 random bytes would hold about 25 zeros; none may remain, also when the system's
    // generator fails and the runtime's serves.
    for (bool systemGenerator : {true, false}) {
        if (!systemGenerator) platform::InjectFault(platform::CallKind::Random, 1, {}, 200);
        Bytes previous;
        for (int i = 0; i < 200; ++i) {
            Bytes key(kCipherKeySize + 1, 0xEE);
            EXPECT_EQ(MakeCipherKey(key.data()), key.data());
            EXPECT_EQ(key[kCipherKeySize], 0xEE);  // exactly 32 bytes written
            key.pop_back();
            for (uint8_t byte : key) {
                ASSERT_NE(byte, 0) << (systemGenerator ? "system" : "runtime");
            }
            if (systemGenerator) {
                EXPECT_NE(key, previous);
            }
            previous = key;
        }
        platform::ClearFaults();
    }
}

}  // namespace
