#include "smc/platform/linux/raw_keys.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "smc/platform/linux/driver_failure.h"
#include "smc/platform/linux/sysfs_text.h"

namespace ventra::smc::linux_backend {
namespace pf = platform;
namespace {

// key_at_index is one value for the whole system. Each selection is checked by reading it back
// after the attributes; a selection that keeps moving ends as busy, never as a wrong answer.
constexpr int kSelectionAttempts = 8;

}  // namespace

std::string RawKeys::readFile(const std::string& name) {
  std::string text;
  if (int error = files_->read(name, text)) throw callFailed(ioReturnFromErrno(error));
  return text;
}

void RawKeys::select(std::uint32_t index) {
  int error = files_->write("key_at_index", std::to_string(index));
  if (error == EINVAL) throw keyNotFound();  // past the last key
  if (error) throw callFailed(ioReturnFromErrno(error));
}

// Whether our selection held. Our index holding another key means the cached index is stale.
bool RawKeys::confirm(std::uint32_t index, FourCharCode code) {
  if (unsignedDecimal(readFile("key_at_index")) != index) return false;
  if (fourCharacterLine(readFile("key_at_index_name")) == code) return true;
  indexCache_.erase(code);
  return false;
}

// A random pause, growing with each attempt, so that we fall out of step with a process that
// selects keys periodically.
void RawKeys::backOff(int attempt) {
  std::uniform_int_distribution<int> microseconds(0, 500 * attempt);
  std::this_thread::sleep_for(std::chrono::microseconds(microseconds(random_)));
}

// The name at an index, read back with the index so that another process's selection is never
// taken for ours.
FourCharCode RawKeys::keyAt(std::uint32_t index) {
  for (int attempt = 0; attempt < kSelectionAttempts; ++attempt) {
    if (attempt > 0) backOff(attempt);
    select(index);
    auto name = fourCharacterLine(readFile("key_at_index_name"));
    if (!name) throw callFailed(pf::kIOReturnIOError);
    if (unsignedDecimal(readFile("key_at_index")) == index) return *name;
  }
  throw callFailed(pf::kIOReturnBusy);
}

// Keys are sorted by their four bytes, so a key's index is found by bisection once and cached.
std::uint32_t RawKeys::indexOf(FourCharCode code) {
  if (auto cached = indexCache_.find(code); cached != indexCache_.end()) return cached->second;
  auto count = unsignedDecimal(readFile("key_count"));
  if (!count || *count > 0xFFFFFFFF) throw callFailed(pf::kIOReturnIOError);
  std::uint64_t low = 0, high = *count;
  while (low < high) {
    auto middle = static_cast<std::uint32_t>(low + (high - low) / 2);
    FourCharCode found = keyAt(middle);
    if (found == code) return indexCache_[code] = middle;
    if (found < code)
      low = middle + 1;
    else
      high = middle;
  }
  throw keyNotFound();
}

// Selects the key and reads its attributes twice, each time checking that the selection held.
// Two equal readings rule out another process having moved the index away and back between
// our checks; a selection that keeps moving ends as busy, never as another key's answer.
template <typename F>
auto RawKeys::atKey(FourCharCode code, F&& readAttributes) {
  for (int attempt = 0; attempt < kSelectionAttempts; ++attempt) {
    if (attempt > 0) backOff(attempt);
    std::uint32_t index = indexOf(code);
    select(index);
    auto first = readAttributes();
    if (!confirm(index, code)) continue;
    auto second = readAttributes();
    if (confirm(index, code) && first == second) return first;
  }
  throw callFailed(pf::kIOReturnBusy);
}

// The attributes are interpreted only once the selection is known to have held: a size read at
// another process's index must not become a size mismatch.
DataType RawKeys::keyInfo(FourCharCode code) {
  auto [typeText, sizeText] = atKey(code, [&] {
    return std::pair{readFile("key_at_index_type"), readFile("key_at_index_data_length")};
  });
  auto type = fourCharacterLine(typeText);
  auto size = unsignedDecimal(sizeText);
  if (!type || !size || *size > 32) throw callFailed(pf::kIOReturnIOError);
  return DataType{*type, static_cast<std::uint32_t>(*size)};
}

SMCDataBytes RawKeys::read(FourCharCode code, std::uint32_t requestedSize) {
  auto [sizeText, data] = atKey(code, [&] {
    return std::pair{readFile("key_at_index_data_length"), readFile("key_at_index_data")};
  });
  auto size = unsignedDecimal(sizeText);
  if (!size || *size > 32 || data.size() != *size) throw callFailed(pf::kIOReturnIOError);
  if (*size != requestedSize) throw keySizeMismatch();
  SMCDataBytes bytes{};
  std::copy(data.begin(), data.end(), bytes.begin());
  return bytes;
}

}  // namespace ventra::smc::linux_backend
