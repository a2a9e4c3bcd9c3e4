#pragma once

#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace ventra::sim {

struct TraceEvent {
  double t = 0.0;  // seconds since launch, on the simulator's clock
  std::string event;
  nlohmann::ordered_json fields = nlohmann::ordered_json::object();
};

// Every platform call of a simulated run, stamped with the virtual time it happened at.
class Trace {
 public:
  void add(std::string event, nlohmann::ordered_json fields = nlohmann::ordered_json::object()) {
    if (clock_) now_ = clock_();
    events_.push_back({now_, std::move(event), std::move(fields)});
  }
  // Stamps events with this clock's seconds instead of the virtual time (a run in real time).
  void useClock(std::function<double()> clock) { clock_ = std::move(clock); }
  void advanceTo(double t) { now_ = t; }
  double now() const { return now_; }
  const std::vector<TraceEvent>& events() const { return events_; }

 private:
  double now_ = 0.0;
  std::function<double()> clock_;
  std::vector<TraceEvent> events_;
};

}  // namespace ventra::sim
