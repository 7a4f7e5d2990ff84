// The built-in wavelet filter banks: the analysis lowpass (and, for the
// biorthogonal families, the analysis highpass) as single-precision floats
// given to nine significant digits, enough to reproduce each float exactly.
// The remaining filters follow by exact sign changes and doublings:
//   orthogonal:  fwdHigh[k] = (-1)^(k+1) * fwdLow[L-1-k]
//   all:         invLow[k]  = 2 * (-1)^(k+1) * fwdHigh[k]
//                invHigh[k] = 2 * (-1)^k * fwdLow[k]
// so the analysis lowpass sums to 1 and the synthesis lowpass to 2.

#include "imaging/denoise/detail/WaveletBanks.h"

#include <array>
#include <cstddef>

namespace KelvoLibImageProcessing::detail {
namespace {

template <size_t L>
struct Taps {
  std::array<float, L> fwdLow, fwdHigh, invLow, invHigh;
};

template <size_t L>
constexpr Taps<L> Biorthogonal(const std::array<float, L>& h, const std::array<float, L>& g) {
  Taps<L> t{h, g, {}, {}};
  for (size_t k = 0; k < L; ++k) {
    t.invLow[k] = (k % 2 == 0) ? -2.0f * g[k] : 2.0f * g[k];
    t.invHigh[k] = (k % 2 == 0) ? 2.0f * h[k] : -2.0f * h[k];
  }
  return t;
}

template <size_t L>
constexpr Taps<L> Orthogonal(const std::array<float, L>& h) {
  std::array<float, L> g{};
  for (size_t k = 0; k < L; ++k) g[k] = (k % 2 == 0) ? -h[L - 1 - k] : h[L - 1 - k];
  return Biorthogonal(h, g);
}

// Haar
constexpr Taps<2> kHaar = Orthogonal<2>({0.5f, 0.5f});

// Daubechies 2
constexpr Taps<4> kDaubechies2 =
    Orthogonal<4>({-0.0915063545f, 0.158493653f, 0.591506362f, 0.341506362f});

// Daubechies 3
constexpr Taps<6> kDaubechies3 = Orthogonal<6>(
    {0.0249087494f, -0.0604161024f, -0.0954672098f, 0.325182498f, 0.570558429f, 0.235233605f});

// Daubechies 4
constexpr Taps<8> kDaubechies4 =
    Orthogonal<8>({-0.00749349501f, 0.0232518017f, 0.0218081493f, -0.132253587f, -0.0197875127f,
                   0.446100056f, 0.505472839f, 0.162901714f});

// Daubechies 5
constexpr Taps<10> kDaubechies5 =
    Orthogonal<10>({0.00235871389f, -0.00889593456f, -0.00441339985f, 0.0548513308f, -0.0228005666f,
                    -0.171328351f, 0.0978834778f, 0.51216346f, 0.426971763f, 0.113209493f});

// Symlet 4
constexpr Taps<8> kSymlet4 =
    Orthogonal<8>({-0.0535744503f, -0.0209554825f, 0.351869524f, 0.568329096f, 0.210617274f,
                   -0.0701588094f, -0.00891235098f, 0.0227851737f});

// Symlet 5
constexpr Taps<10> kSymlet5 =
    Orthogonal<10>({0.0193273984f, 0.0208734311f, -0.0276720934f, 0.140995353f, 0.511526465f,
                    0.448290825f, 0.0117394617f, -0.123975679f, -0.0149212498f, 0.0138160763f});

// Coiflet 1
constexpr Taps<6> kCoiflet1 = Orthogonal<6>(
    {-0.011070272f, -0.0514297262f, 0.272140533f, 0.602859437f, 0.238929734f, -0.0514297262f});

// Coiflet 2
constexpr Taps<12> kCoiflet2 = Orthogonal<12>(
    {-0.000509504986f, -0.00128920295f, 0.003967884f, 0.0167444106f, -0.0420264788f, -0.0540856086f,
     0.294867188f, 0.574682415f, 0.273021042f, -0.0476395898f, -0.0293201376f, 0.0115875974f});

// biorthogonal 1.3
constexpr Taps<6> kBiorthogonal1_3 = Biorthogonal<6>(
    {-0.0625f, 0.0625f, 0.5f, 0.5f, 0.0625f, -0.0625f}, {0.0f, 0.0f, -0.5f, 0.5f, 0.0f, 0.0f});

// biorthogonal 1.5
constexpr Taps<10> kBiorthogonal1_5 =
    Biorthogonal<10>({0.01171875f, -0.01171875f, -0.0859375f, 0.0859375f, 0.5f, 0.5f, 0.0859375f,
                      -0.0859375f, -0.01171875f, 0.01171875f},
                     {0.0f, 0.0f, 0.0f, 0.0f, -0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f});

// biorthogonal 2.2
constexpr Taps<6> kBiorthogonal2_2 = Biorthogonal<6>({0.0f, -0.125f, 0.25f, 0.75f, 0.25f, -0.125f},
                                                     {0.0f, 0.25f, -0.5f, 0.25f, 0.0f, 0.0f});

// biorthogonal 2.4
constexpr Taps<10> kBiorthogonal2_4 =
    Biorthogonal<10>({0.0f, 0.0234375f, -0.046875f, -0.125f, 0.296875f, 0.703125f, 0.296875f,
                      -0.125f, -0.046875f, 0.0234375f},
                     {0.0f, 0.0f, 0.0f, 0.25f, -0.5f, 0.25f, 0.0f, 0.0f, 0.0f, 0.0f});

// biorthogonal 3.1
constexpr Taps<4> kBiorthogonal3_1 =
    Biorthogonal<4>({-0.25f, 0.75f, 0.75f, -0.25f}, {-0.125f, 0.375f, -0.375f, 0.125f});

// biorthogonal 3.3
constexpr Taps<8> kBiorthogonal3_3 = Biorthogonal<8>(
    {0.046875f, -0.140625f, -0.109375f, 0.703125f, 0.703125f, -0.109375f, -0.140625f, 0.046875f},
    {0.0f, 0.0f, -0.125f, 0.375f, -0.375f, 0.125f, 0.0f, 0.0f});

// biorthogonal 4.4
constexpr Taps<10> kBiorthogonal4_4 =
    Biorthogonal<10>({0.0f, 0.0267487578f, -0.0168641172f, -0.0782232657f, 0.266864121f,
                      0.602949023f, 0.266864121f, -0.0782232657f, -0.0168641172f, 0.0267487578f},
                     {0.0f, -0.0456358828f, 0.0287717637f, 0.295635879f, -0.557543516f,
                      0.295635879f, 0.0287717637f, -0.0456358828f, 0.0f, 0.0f});

// reverse biorthogonal 1.3
constexpr Taps<6> kReverseBiorthogonal1_3 = Biorthogonal<6>(
    {0.0f, 0.0f, 0.5f, 0.5f, 0.0f, 0.0f}, {0.0625f, 0.0625f, -0.5f, 0.5f, -0.0625f, -0.0625f});

// reverse biorthogonal 1.5
constexpr Taps<10> kReverseBiorthogonal1_5 =
    Biorthogonal<10>({0.0f, 0.0f, 0.0f, 0.0f, 0.5f, 0.5f, 0.0f, 0.0f, 0.0f, 0.0f},
                     {-0.01171875f, -0.01171875f, 0.0859375f, 0.0859375f, -0.5f, 0.5f, -0.0859375f,
                      -0.0859375f, 0.01171875f, 0.01171875f});

// reverse biorthogonal 2.2
constexpr Taps<6> kReverseBiorthogonal2_2 = Biorthogonal<6>(
    {0.0f, 0.0f, 0.25f, 0.5f, 0.25f, 0.0f}, {0.125f, 0.25f, -0.75f, 0.25f, 0.125f, 0.0f});

// reverse biorthogonal 2.4
constexpr Taps<10> kReverseBiorthogonal2_4 =
    Biorthogonal<10>({0.0f, 0.0f, 0.0f, 0.0f, 0.25f, 0.5f, 0.25f, 0.0f, 0.0f, 0.0f},
                     {-0.0234375f, -0.046875f, 0.125f, 0.296875f, -0.703125f, 0.296875f, 0.125f,
                      -0.046875f, -0.0234375f, 0.0f});

// reverse biorthogonal 3.1
constexpr Taps<4> kReverseBiorthogonal3_1 =
    Biorthogonal<4>({0.125f, 0.375f, 0.375f, 0.125f}, {0.25f, 0.75f, -0.75f, -0.25f});

// reverse biorthogonal 3.3
constexpr Taps<8> kReverseBiorthogonal3_3 = Biorthogonal<8>(
    {0.0f, 0.0f, 0.125f, 0.375f, 0.375f, 0.125f, 0.0f, 0.0f},
    {-0.046875f, -0.140625f, 0.109375f, 0.703125f, -0.703125f, -0.109375f, 0.140625f, 0.046875f});

// reverse biorthogonal 4.4
constexpr Taps<10> kReverseBiorthogonal4_4 =
    Biorthogonal<10>({0.0f, 0.0f, -0.0456358828f, -0.0287717637f, 0.295635879f, 0.557543516f,
                      0.295635879f, -0.0287717637f, -0.0456358828f, 0.0f},
                     {-0.0267487578f, -0.0168641172f, 0.0782232657f, 0.266864121f, -0.602949023f,
                      0.266864121f, 0.0782232657f, -0.0168641172f, -0.0267487578f, 0.0f});

#define KELVO_BANK(type, taps)                                                           \
  WaveletBank {                                                                          \
    type, static_cast<int>(taps.fwdLow.size()), taps.fwdLow.data(), taps.fwdHigh.data(), \
        taps.invLow.data(), taps.invHigh.data()                                          \
  }

// Types 1 and 10 (Daubechies 2, Symlet 2) and 2 and 11 (Daubechies 3,
// Symlet 3) share their taps.
constexpr WaveletBank kBanks[] = {
    KELVO_BANK(0, kHaar),
    KELVO_BANK(1, kDaubechies2),
    KELVO_BANK(2, kDaubechies3),
    KELVO_BANK(3, kDaubechies4),
    KELVO_BANK(4, kDaubechies5),
    KELVO_BANK(10, kDaubechies2),
    KELVO_BANK(11, kDaubechies3),
    KELVO_BANK(12, kSymlet4),
    KELVO_BANK(13, kSymlet5),
    KELVO_BANK(20, kCoiflet1),
    KELVO_BANK(21, kCoiflet2),
    KELVO_BANK(30, kBiorthogonal1_3),
    KELVO_BANK(31, kBiorthogonal1_5),
    KELVO_BANK(32, kBiorthogonal2_2),
    KELVO_BANK(33, kBiorthogonal2_4),
    KELVO_BANK(34, kBiorthogonal3_1),
    KELVO_BANK(35, kBiorthogonal3_3),
    KELVO_BANK(36, kBiorthogonal4_4),
    KELVO_BANK(40, kReverseBiorthogonal1_3),
    KELVO_BANK(41, kReverseBiorthogonal1_5),
    KELVO_BANK(42, kReverseBiorthogonal2_2),
    KELVO_BANK(43, kReverseBiorthogonal2_4),
    KELVO_BANK(44, kReverseBiorthogonal3_1),
    KELVO_BANK(45, kReverseBiorthogonal3_3),
    KELVO_BANK(46, kReverseBiorthogonal4_4),
};
#undef KELVO_BANK

}  // namespace

const WaveletBank* FindWaveletBank(int type) noexcept {
  for (const WaveletBank& bank : kBanks) {
    if (bank.type == type) return &bank;
  }
  return nullptr;
}

const WaveletBank* BuiltInWaveletBanks(int* count) noexcept {
  *count = static_cast<int>(sizeof(kBanks) / sizeof(kBanks[0]));
  return kBanks;
}

}  // namespace KelvoLibImageProcessing::detail
