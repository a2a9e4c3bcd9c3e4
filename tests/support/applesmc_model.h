#pragma once

// The kernel's applesmc driver, as far as its sysfs directory shows it: one global key_at_index,
// the key_at_index_* files, and the hwmon fan and temperature attributes computed from the keys
// the way the driver computes them, with the driver's file modes and errno values. Serves the
// in-process test double and the FUSE stand-in alike, so both behave as the kernel does.

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "smc/platform/emulator/profile.h"

namespace ventra::testing {

class ApplesmcModel {
 public:
  struct Key {
    std::string name;  // four characters
    std::string type;  // four characters
    std::string data;  // raw value bytes
  };

  explicit ApplesmcModel(std::vector<Key> keys);  // sorted by name, as the SMC serves them
  // A profile's keys with their first values.
  static std::vector<Key> keysOf(const smc::emulator::Profile& profile);

  // Every file the driver creates, and its mode (0444, or 0644 where it has a store function).
  std::vector<std::string> files() const;
  std::optional<unsigned> mode(const std::string& name) const;

  // What a read or a write of the file does: 0 or an errno value.
  int show(const std::string& name, std::string& out);
  int store(const std::string& name, const std::string& text);

  // Runs after every successful read of a file: another process moving the index, say.
  std::function<void(ApplesmcModel&, const std::string& file)> afterShow;
  // Runs before every read of a file: a key whose value changes with time, say.
  std::function<void(ApplesmcModel&)> beforeShow;
  void selectIndex(std::size_t index) { keyAtIndex_ = index; }
  std::vector<Key>& keys() { return keys_; }

 private:
  const Key* keyNamed(const std::string& name) const;
  Key* mutableKey(const std::string& name);
  std::size_t keyCount() const;
  std::size_t fanCount() const;
  std::vector<std::string> temperatureKeys() const;
  int showFile(const std::string& name, std::string& out);
  int showKeyAtIndex(const std::string& what, std::string& out);
  int showFan(int fan, const std::string& what, std::string& out) const;
  int showTemperature(std::size_t sensor, const std::string& what, std::string& out) const;
  int storeFan(int fan, const std::string& what, const std::string& text);

  std::vector<Key> keys_;
  std::size_t keyAtIndex_ = 0;
  std::recursive_mutex mutex_;
};

}  // namespace ventra::testing
