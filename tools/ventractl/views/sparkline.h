#pragma once

// The recent samples of one reading, drawn as a line of block characters scaled to the window's
// own low and high. A missing sample is a blank.

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <utility>

namespace ventra::ctl {

class Sparkline {
 public:
  explicit Sparkline(std::size_t width) : width_(width) {}
  void add(std::optional<double> sample);
  std::string render() const;
  // The window's low and high, which the line is scaled to; nothing before a first sample.
  std::optional<std::pair<double, double>> range() const;

 private:
  std::size_t width_;
  std::deque<std::optional<double>> samples_;
};

}  // namespace ventra::ctl
