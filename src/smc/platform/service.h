#pragma once

// What a backend implements to sit behind the driver port: a service that opens connections, and
// a connection that answers the 80-byte struct-method call.

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

// The process's "AppleSMC" service; none means the host has no SMC driver. Only the process's
// composition (composition/composition.h) sets it.
void installAppleSMCService(std::shared_ptr<Service> service);
std::shared_ptr<Service> installedAppleSMCService();

}  // namespace ventra::smc::platform
