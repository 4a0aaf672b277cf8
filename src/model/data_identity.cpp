#include "model/data_identity.h"

#include <cstdint>
#include <cstdio>

#include "model/store.h"

namespace quorvale {

std::string data_identity(const ModelStore& m) {
  std::uint32_t h = 2166136261U;
  auto mix = [&h](int v) {
    const auto u = static_cast<std::uint32_t>(v);
    for (int b = 0; b < 4; ++b) {
      h ^= (u >> (8 * b)) & 0xFFU;
      h *= 16777619U;
    }
  };
  std::int64_t total = 0;
  mix(m.NCOHRT);
  for (int c = 1; c <= m.NCOHRT; ++c) {
    total += m.NREL(c);
    mix(m.NREL(c));
    mix(m.NCLASS(c));
    for (int k = 1; k <= m.NCLASS(c); ++k) mix(m.NOBS(k, c));
  }
  char text[64];
  std::snprintf(text, sizeof text, "data %d %lld %08x", m.NCOHRT, static_cast<long long>(total), h);
  return text;
}

}  // namespace quorvale
