#pragma once

// What a backend implements to sit behind the driver port, and the process-wide registry of
// services by name. A process registers its backend once at start; tests install theirs with a
// ScopedService so nothing above the port changes.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "smc/platform/iokit.h"

namespace ventra::smc::platform {

// One open connection to a service.
class UserClient {
 public:
  virtual ~UserClient() = default;
  // `output.size()` is the caller's answer area; set `outputSize` to the bytes written.
  virtual kern_return_t callStructMethod(std::uint32_t selector,
                                         std::span<const std::uint8_t> input,
                                         std::span<std::uint8_t> output,
                                         std::size_t& outputSize) = 0;
};

class Service {
 public:
  virtual ~Service() = default;
  // On success stores a new client in `client`; otherwise returns the platform's code.
  virtual kern_return_t open(std::uint32_t type, std::unique_ptr<UserClient>& client) = 0;
};

inline constexpr char kAppleSMCServiceName[] = "AppleSMC";

// Replaces whatever is registered under `name`; a null service removes the entry.
void registerService(const std::string& name, std::shared_ptr<Service> service);
std::shared_ptr<Service> registeredService(const std::string& name);

// Registers a service for the guard's lifetime and puts back what was there before.
class ScopedService {
 public:
  ScopedService(std::string name, std::shared_ptr<Service> service);
  ~ScopedService();
  ScopedService(const ScopedService&) = delete;
  ScopedService& operator=(const ScopedService&) = delete;

 private:
  std::string name_;
  std::shared_ptr<Service> previous_;
};

}  // namespace ventra::smc::platform
