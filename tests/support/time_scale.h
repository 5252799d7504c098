// How many times slower the sanitizers make this build. Time bounds that tests check (a reply
// within 250 ms, a pause below 1 s) are multiplied by it, so that they keep their meaning in
// the plain build and do not fail for the instrumentation alone.
#pragma once

namespace kqcp_test {

#if defined(__SANITIZE_THREAD__)
inline constexpr int kTimeScale = 10;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr int kTimeScale = 2;
#else
inline constexpr int kTimeScale = 1;
#endif

}  // namespace kqcp_test
