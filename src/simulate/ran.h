#pragma once
// The uniform random number generator of PROC SIMULATE: the multiplicative
// congruential generator with multiplier 16807 and modulus 2^31 - 1.

#include <cstdint>

namespace quorvale {

/// Next uniform number from `seed`, which becomes 16807 * seed mod (2^31 - 1);
/// the value seed / (2^31 - 1) in single precision, in (0, 1] for a positive seed.
float ran(std::int32_t& seed);

/// The starting seed for the SEED value n: n made odd as 2 * (n / 2) + 1, the
/// division truncating toward zero.
std::int32_t odd_seed(std::int32_t n);

}  // namespace quorvale
