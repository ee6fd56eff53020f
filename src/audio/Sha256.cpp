#include "audio/Sha256.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define RVW_SHA_X86 1
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace rvw {

namespace {

constexpr std::array<quint32, 8> kInitialState{0x6a09e667u, 0xbb67ae85u, 0x3c6ef372u, 0xa54ff53au,
                                               0x510e527fu, 0x9b05688cu, 0x1f83d9abu, 0x5be0cd19u};

#ifdef RVW_SHA_X86

alignas(16) constexpr quint32 kRoundConstants[64] = {
    0x428a2f98u, 0x71374491u, 0xb5c0fbcfu, 0xe9b5dba5u, 0x3956c25bu, 0x59f111f1u, 0x923f82a4u, 0xab1c5ed5u,
    0xd807aa98u, 0x12835b01u, 0x243185beu, 0x550c7dc3u, 0x72be5d74u, 0x80deb1feu, 0x9bdc06a7u, 0xc19bf174u,
    0xe49b69c1u, 0xefbe4786u, 0x0fc19dc6u, 0x240ca1ccu, 0x2de92c6fu, 0x4a7484aau, 0x5cb0a9dcu, 0x76f988dau,
    0x983e5152u, 0xa831c66du, 0xb00327c8u, 0xbf597fc7u, 0xc6e00bf3u, 0xd5a79147u, 0x06ca6351u, 0x14292967u,
    0x27b70a85u, 0x2e1b2138u, 0x4d2c6dfcu, 0x53380d13u, 0x650a7354u, 0x766a0abbu, 0x81c2c92eu, 0x92722c85u,
    0xa2bfe8a1u, 0xa81a664bu, 0xc24b8b70u, 0xc76c51a3u, 0xd192e819u, 0xd6990624u, 0xf40e3585u, 0x106aa070u,
    0x19a4c116u, 0x1e376c08u, 0x2748774cu, 0x34b0bcb5u, 0x391c0cb3u, 0x4ed8aa4au, 0x5b9cca4fu, 0x682e6ff3u,
    0x748f82eeu, 0x78a5636fu, 0x84c87814u, 0x8cc70208u, 0x90befffau, 0xa4506cebu, 0xbef9a3f7u, 0xc67178f2u};

// Compresses `blocks` 64-byte blocks into the state with the SHA extensions. The instructions
// keep the eight words as the pairs ABEF and CDGH, so the state is reordered on entry and exit.
__attribute__((target("sha,sse4.1"))) void compressHardware(quint32 *state, const unsigned char *data,
                                                            qint64 blocks)
{
    const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
    __m128i tmp = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state)), 0xB1);
    __m128i state1 = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i *>(state + 4)), 0x1B);
    __m128i state0 = _mm_alignr_epi8(tmp, state1, 8);
    state1 = _mm_blend_epi16(state1, tmp, 0xF0);

    for (qint64 b = 0; b < blocks; ++b, data += 64) {
        const __m128i savedAbef = state0;
        const __m128i savedCdgh = state1;
        __m128i w[4];
        for (int i = 0; i < 4; ++i)
            w[i] =
                _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(data + 16 * i)), byteSwap);
#pragma GCC unroll 16
        for (int i = 0; i < 16; ++i) {
            if (i >= 4) {
                // w[i & 3] holds the words i-4 groups back; the others follow in ring order.
                const __m128i sum = _mm_add_epi32(_mm_sha256msg1_epu32(w[i & 3], w[(i + 1) & 3]),
                                                  _mm_alignr_epi8(w[(i + 3) & 3], w[(i + 2) & 3], 4));
                w[i & 3] = _mm_sha256msg2_epu32(sum, w[(i + 3) & 3]);
            }
            __m128i msg = _mm_add_epi32(
                w[i & 3], _mm_load_si128(reinterpret_cast<const __m128i *>(kRoundConstants + 4 * i)));
            state1 = _mm_sha256rnds2_epu32(state1, state0, msg);
            msg = _mm_shuffle_epi32(msg, 0x0E);
            state0 = _mm_sha256rnds2_epu32(state0, state1, msg);
        }
        state0 = _mm_add_epi32(state0, savedAbef);
        state1 = _mm_add_epi32(state1, savedCdgh);
    }

    tmp = _mm_shuffle_epi32(state0, 0x1B);
    state1 = _mm_shuffle_epi32(state1, 0xB1);
    state0 = _mm_blend_epi16(tmp, state1, 0xF0);
    state1 = _mm_alignr_epi8(state1, tmp, 8);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state), state0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(state + 4), state1);
}

bool detectShaInstructions()
{
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool sse41 = (ecx & (1u << 19)) != 0;
    const bool ssse3 = (ecx & (1u << 9)) != 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool sha = (ebx & (1u << 29)) != 0;
    return sha && sse41 && ssse3;
}

#else

void compressHardware(quint32 *, const unsigned char *, qint64) {}
bool detectShaInstructions()
{
    return false;
}

#endif

} // namespace

bool Sha256::processorHasShaInstructions()
{
    static const bool present = detectShaInstructions();
    return present;
}

Sha256::Sha256(Engine engine)
    : m_hardware(engine == Engine::Fastest && processorHasShaInstructions()), m_state(kInitialState)
{
}

void Sha256::addData(const char *data, qint64 length)
{
    if (length < 1)
        return;
    if (!m_hardware) {
        m_framework.addData(QByteArrayView(data, length));
        return;
    }
    const auto *bytes = reinterpret_cast<const unsigned char *>(data);
    m_totalBytes += quint64(length);
    if (m_pendingLength > 0) {
        const int take = int(qMin<qint64>(64 - m_pendingLength, length));
        std::memcpy(m_pending.data() + m_pendingLength, bytes, size_t(take));
        m_pendingLength += take;
        bytes += take;
        length -= take;
        if (m_pendingLength < 64)
            return;
        compressHardware(m_state.data(), m_pending.data(), 1);
        m_pendingLength = 0;
    }
    const qint64 blocks = length / 64;
    if (blocks > 0) {
        compressHardware(m_state.data(), bytes, blocks);
        bytes += blocks * 64;
        length -= blocks * 64;
    }
    if (length > 0) {
        std::memcpy(m_pending.data(), bytes, size_t(length));
        m_pendingLength = int(length);
    }
}

QByteArray Sha256::result()
{
    if (!m_hardware)
        return m_framework.result();

    // Padding: a one bit, zeros up to 56 bytes into the last block, then the length in bits.
    const quint64 bitLength = m_totalBytes * 8u;
    std::array<unsigned char, 128> tail{};
    std::memcpy(tail.data(), m_pending.data(), size_t(m_pendingLength));
    tail[size_t(m_pendingLength)] = 0x80;
    const int tailBlocks = m_pendingLength < 56 ? 1 : 2;
    for (int i = 0; i < 8; ++i)
        tail[size_t(tailBlocks * 64 - 1 - i)] = static_cast<unsigned char>(bitLength >> (8 * i));
    compressHardware(m_state.data(), tail.data(), tailBlocks);
    m_pendingLength = 0;

    QByteArray digest(32, Qt::Uninitialized);
    for (int i = 0; i < 8; ++i) {
        digest[4 * i] = char(m_state[size_t(i)] >> 24);
        digest[4 * i + 1] = char(m_state[size_t(i)] >> 16);
        digest[4 * i + 2] = char(m_state[size_t(i)] >> 8);
        digest[4 * i + 3] = char(m_state[size_t(i)]);
    }
    return digest;
}

} // namespace rvw
