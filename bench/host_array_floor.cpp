// The floor under the app's load on the host: allocate the n × n float array and write 1.0 into
// every element, nothing else. host_array_cost.py runs it beside `ventractl simulate`.
#include <cstdio>
#include <cstdlib>

#include "gpu/host_array.h"

int main(int argc, char** argv) {
  const std::size_t n = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 16384;
  auto ones = ventra::HostArray::filled(n * n, 1.0f);
  if (!ones.data()) return 1;
  // Read one element back so the fill cannot be left out.
  return ones.data()[n * n / 2] == 1.0f ? 0 : 2;
}
