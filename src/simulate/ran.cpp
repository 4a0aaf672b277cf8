#include "simulate/ran.h"

namespace quorvale {

namespace {

/// Modulus of the generator, 2^31 - 1.
constexpr std::int64_t kModulus = 2147483647;
/// Multiplier of the generator, 7^5.
constexpr std::int64_t kMultiplier = 16807;
/// 1 / (2^31 - 1) to 14 significant digits.
constexpr double kScale = 4.6566128752458e-10;

}  // namespace

float ran(std::int32_t& seed) {
  // The product needs 46 bits; the remainder keeps the sign of the dividend.
  seed = static_cast<std::int32_t>((kMultiplier * seed) % kModulus);
  return static_cast<float>(static_cast<double>(seed) * kScale);
}

std::int32_t odd_seed(std::int32_t n) { return 2 * (n / 2) + 1; }

}  // namespace quorvale
