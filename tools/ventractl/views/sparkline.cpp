#include "views/sparkline.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace ventra::ctl {
namespace {

constexpr std::array<const char*, 8> kBlocks = {"▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};

}  // namespace

void Sparkline::add(std::optional<double> sample) {
  if (sample && !std::isfinite(*sample)) sample.reset();
  samples_.push_back(sample);
  if (samples_.size() > width_) samples_.pop_front();
}

std::optional<std::pair<double, double>> Sparkline::range() const {
  std::optional<std::pair<double, double>> range;
  for (const auto& sample : samples_) {
    if (!sample) continue;
    if (!range) range.emplace(*sample, *sample);
    range->first = std::min(range->first, *sample);
    range->second = std::max(range->second, *sample);
  }
  return range;
}

std::string Sparkline::render() const {
  auto [low, high] = range().value_or(std::pair{0.0, 0.0});
  std::string line;
  for (const auto& sample : samples_) {
    if (!sample) {
      line += " ";
      continue;
    }
    // A steady reading sits in the middle rather than pretending to be at a low or a high.
    double share = high > low ? (*sample - low) / (high - low) : 0.5;
    auto level = static_cast<std::size_t>(std::lround(share * (kBlocks.size() - 1)));
    line += kBlocks[level];
  }
  return line;
}

}  // namespace ventra::ctl
