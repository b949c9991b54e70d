#include "tool/id_table.h"

#include <sys/random.h>
#include <time.h>
#include <unistd.h>

void RandomKey(uint64_t key[2]) {
  if (getrandom(key, 2 * sizeof key[0], GRND_NONBLOCK) == 2 * sizeof key[0]) return;
  // Kernels before 3.17 have no getrandom: a key an attacker cannot know
  // in advance does as well here.
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  key[0] ^= static_cast<uint64_t>(ts.tv_nsec) * 0x9E3779B97F4A7C15ull ^ static_cast<uint64_t>(ts.tv_sec);
  key[1] ^= static_cast<uint64_t>(getpid()) << 32 ^ reinterpret_cast<uintptr_t>(&ts);
}
