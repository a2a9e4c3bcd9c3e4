#pragma once

// The recent samples of one reading, drawn as a line of block characters scaled to the window's
// own low and high. A missing sample is a blank.

#include <cstddef>
#include <deque>
#include <optional>
#include <string>

namespace ventra::ctl {

class Sparkline {
 public:
  explicit Sparkline(std::size_t width) : width_(width) {}
  void add(std::optional<double> sample);
  std::string render() const;

 private:
  std::size_t width_;
  std::deque<std::optional<double>> samples_;
};

}  // namespace ventra::ctl
