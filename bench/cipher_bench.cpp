// Cipher throughput: both stream modes of the library's cipher, and OpenSSL's Blowfish CFB64 on
// the same machine where OpenSSL is found. Encrypts a 1 MiB buffer in place again and again
// and reports MB/s (10^6 bytes per second).
//
//   cipher_bench [MEBIBYTES]   (default 64)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <vector>

#include "support/block_cipher.h"

#ifdef PELLUCOR_HAVE_OPENSSL
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/blowfish.h>
#endif

using namespace support;

namespace {

constexpr size_t kBufferSize = 1 << 20;

double Measure(const char* name, long mebibytes, const std::function<void(uint8_t*, size_t)>& encrypt) {
    std::vector<uint8_t> buffer(kBufferSize);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i);
    encrypt(buffer.data(), buffer.size());  // warm up
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < mebibytes; ++i) encrypt(buffer.data(), buffer.size());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double rate = static_cast<double>(mebibytes) * kBufferSize / seconds / 1e6;
    std::printf("%-28s %8.1f MB/s  (%ld MiB in %.3f s, check byte %02x)\n", name, rate, mebibytes, seconds,
                buffer[12345]);
    return rate;
}

}  // namespace

int main(int argc, char** argv) {
    const long mebibytes = argc > 1 ? std::atol(argv[1]) : 64;
    if (mebibytes <= 0) {
        std::fprintf(stderr, "usage: cipher_bench [MEBIBYTES]\n");
        return 2;
    }
    uint8_t key[kCipherKeySize];
    MakeCipherKey(key);

    CipherContext* pad = CreateCipher(key);
    CipherContext* feedback = CreateCipher(key);
    if (!pad || !feedback) return 1;
    StartCipher(pad, kCipherModePad, 0);
    StartCipher(feedback, kCipherModeFeedback, 56);
    Measure("XOR pad (mode 1)", mebibytes, [&](uint8_t* data, size_t size) { EncryptBytes(pad, data, size); });
    const double ours = Measure("block feedback (mode 2)", mebibytes,
                                [&](uint8_t* data, size_t size) { EncryptBytes(feedback, data, size); });
    DestroyCipher(pad);
    DestroyCipher(feedback);

#ifdef PELLUCOR_HAVE_OPENSSL
    BF_KEY reference;
    BF_set_key(&reference, 7, key);
    unsigned char vector[8] = {};
    std::memcpy(vector, key, 7);
    int position = 0;
    const double theirs = Measure("OpenSSL BF_cfb64_encrypt", mebibytes, [&](uint8_t* data, size_t size) {
        BF_cfb64_encrypt(data, data, static_cast<long>(size), &reference, vector, &position, BF_ENCRYPT);
    });
    std::printf("block feedback / OpenSSL CFB64: %.2f\n", ours / theirs);
#else
    (void)ours;
    std::printf("OpenSSL was not found when this was built; no comparison\n");
#endif
    return 0;
}
