#include "gpu/host_array.h"

#include <algorithm>
#include <new>

namespace ventra {

HostArray HostArray::filled(std::size_t count, float value) {
  HostArray array;
  if (count == 0) return array;
  array.data_.reset(new (std::nothrow) float[count]);
  if (!array.data_) return array;
  std::fill_n(array.data_.get(), count, value);
  array.size_ = count;
  return array;
}

}  // namespace ventra
