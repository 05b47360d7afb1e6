// What one core decrypts with the TLS library's two record ciphers that
// peers offer, one 16 KiB record (the largest TLS sends) at a time: the
// measure behind the order in which src/platform/tls.cpp offers them.
//   build/bench/bench_tls_ciphers   (configured with -DKIVO_BENCH=ON)
#include <benchmark/benchmark.h>
#include <mbedtls/chachapoly.h>
#include <mbedtls/gcm.h>

#include <vector>

namespace {

constexpr size_t RECORD_BYTES = 16384;

void AesGcm128(benchmark::State& state) {
    std::vector<unsigned char> in(RECORD_BYTES), out(RECORD_BYTES);
    unsigned char key[16] = {1}, iv[12] = {2}, tag[16];
    mbedtls_gcm_context gcm;
    mbedtls_gcm_init(&gcm);
    mbedtls_gcm_setkey(&gcm, MBEDTLS_CIPHER_ID_AES, key, 128);
    for (auto _ : state) {
        mbedtls_gcm_crypt_and_tag(&gcm, MBEDTLS_GCM_DECRYPT, RECORD_BYTES, iv, sizeof iv, nullptr, 0, in.data(),
                                  out.data(), sizeof tag, tag);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * RECORD_BYTES));
    mbedtls_gcm_free(&gcm);
}
BENCHMARK(AesGcm128);

void ChaCha20Poly1305(benchmark::State& state) {
    std::vector<unsigned char> in(RECORD_BYTES), out(RECORD_BYTES);
    unsigned char key[32] = {1}, iv[12] = {2}, tag[16];
    mbedtls_chachapoly_context chacha;
    mbedtls_chachapoly_init(&chacha);
    mbedtls_chachapoly_setkey(&chacha, key);
    for (auto _ : state) {
        // Decryption is the same work: the keystream and the tag over the ciphertext.
        mbedtls_chachapoly_encrypt_and_tag(&chacha, RECORD_BYTES, iv, nullptr, 0, in.data(), out.data(), tag);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed((int64_t)(state.iterations() * RECORD_BYTES));
    mbedtls_chachapoly_free(&chacha);
}
BENCHMARK(ChaCha20Poly1305);

}  // namespace
