#include <map>
#include <mutex>
#include <vector>

#include "smc/platform/iokit.h"
#include "smc/platform/service.h"

namespace ventra::smc::platform {
namespace {

// Handles are never 0 and never reused, so a stale handle cannot reach a newer connection.
struct Registry {
  std::mutex mutex;
  std::shared_ptr<Service> appleSMC;
  std::map<io_object_t, std::shared_ptr<Service>> serviceHandles;
  std::map<io_connect_t, std::shared_ptr<UserClient>> connections;
  io_object_t nextHandle = 0x1003;

  io_object_t newHandle() { return nextHandle++; }
};

Registry& registry() {
  static Registry instance;
  return instance;
}

}  // namespace

void installAppleSMCService(std::shared_ptr<Service> service) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  r.appleSMC = std::move(service);
}

std::shared_ptr<Service> installedAppleSMCService() {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.appleSMC;
}

MatchingDictionary IOServiceMatching(const char* serviceClass) {
  return MatchingDictionary{serviceClass ? serviceClass : ""};
}

io_service_t IOServiceGetMatchingService(const MatchingDictionary& matching) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  if (matching.serviceClass != kAppleSMCServiceName || !r.appleSMC) return 0;
  io_service_t handle = r.newHandle();
  r.serviceHandles.emplace(handle, r.appleSMC);
  return handle;
}

kern_return_t IOServiceOpen(io_service_t service, std::uint32_t type, io_connect_t* connect) {
  if (connect == nullptr) return kIOReturnBadArgument;
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  auto found = r.serviceHandles.find(service);
  if (found == r.serviceHandles.end()) return kIOReturnBadArgument;
  std::unique_ptr<UserClient> client;
  kern_return_t rc = found->second->open(type, client);
  if (rc != kIOReturnSuccess) return rc;
  if (!client) return kIOReturnError;
  *connect = r.newHandle();
  r.connections.emplace(*connect, std::move(client));
  return kIOReturnSuccess;
}

kern_return_t IOObjectRelease(io_object_t object) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.serviceHandles.erase(object) == 1 ? kIOReturnSuccess : kIOReturnBadArgument;
}

kern_return_t IOConnectCallStructMethod(io_connect_t connection, std::uint32_t selector,
                                        const void* input, std::size_t inputSize, void* output,
                                        std::size_t* outputSize) {
  std::shared_ptr<UserClient> client;
  {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto found = r.connections.find(connection);
    if (found == r.connections.end()) return kIOReturnNotOpen;
    client = found->second;
  }
  if ((input == nullptr && inputSize != 0) || outputSize == nullptr ||
      (output == nullptr && *outputSize != 0))
    return kIOReturnBadArgument;
  std::span<const std::uint8_t> in(static_cast<const std::uint8_t*>(input), inputSize);
  std::span<std::uint8_t> out(static_cast<std::uint8_t*>(output), *outputSize);
  // The driver blocks; the registry is not held meanwhile so other handles stay usable.
  return client->callStructMethod(selector, in, out, *outputSize);
}

kern_return_t IOServiceClose(io_connect_t connection) {
  auto& r = registry();
  std::lock_guard lock(r.mutex);
  return r.connections.erase(connection) == 1 ? kIOReturnSuccess : kIOReturnNotOpen;
}

}  // namespace ventra::smc::platform
