// What the fuzz targets share: a broken invariant aborts, which libFuzzer
// reports as a crash with the input that caused it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace zw::fuzz {

/// `what` names the invariant; each is worded once, so it locates itself.
inline void Require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace zw::fuzz
