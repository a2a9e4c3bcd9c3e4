#pragma once

// The SMC driver port: the user-client calls that reach the "AppleSMC" service, shaped like the
// platform they come from so the code above reads the same on every backend. Which backend
// answers is decided by what is registered under the service's name (see service.h).

#include <cstddef>
#include <cstdint>
#include <string>

namespace ventra::smc::platform {

using kern_return_t = std::int32_t;
using io_object_t = std::uint32_t;
using io_service_t = io_object_t;
using io_connect_t = io_object_t;

constexpr kern_return_t ioReturn(std::uint32_t code) {
  return static_cast<kern_return_t>(code);
}

inline constexpr kern_return_t kIOReturnSuccess = 0;
inline constexpr kern_return_t kIOReturnError = ioReturn(0xE00002BC);
inline constexpr kern_return_t kIOReturnNoMemory = ioReturn(0xE00002BD);
inline constexpr kern_return_t kIOReturnNoDevice = ioReturn(0xE00002C0);
inline constexpr kern_return_t kIOReturnNotPrivileged = ioReturn(0xE00002C1);
inline constexpr kern_return_t kIOReturnBadArgument = ioReturn(0xE00002C2);
inline constexpr kern_return_t kIOReturnUnsupported = ioReturn(0xE00002C7);
inline constexpr kern_return_t kIOReturnIOError = ioReturn(0xE00002CA);
inline constexpr kern_return_t kIOReturnNotOpen = ioReturn(0xE00002CD);
inline constexpr kern_return_t kIOReturnBusy = ioReturn(0xE00002D5);
inline constexpr kern_return_t kIOReturnTimeout = ioReturn(0xE00002D6);

// What IOServiceGetMatchingService looks for; built by IOServiceMatching and handed on to it.
struct MatchingDictionary {
  std::string serviceClass;
};

MatchingDictionary IOServiceMatching(const char* serviceClass);
// 0 when no service of that class is registered.
io_service_t IOServiceGetMatchingService(const MatchingDictionary& matching);
kern_return_t IOServiceOpen(io_service_t service, std::uint32_t type, io_connect_t* connect);
kern_return_t IOObjectRelease(io_object_t object);
// A closed or never-opened connection answers kIOReturnNotOpen.
kern_return_t IOConnectCallStructMethod(io_connect_t connection, std::uint32_t selector,
                                        const void* input, std::size_t inputSize, void* output,
                                        std::size_t* outputSize);
kern_return_t IOServiceClose(io_connect_t connection);

}  // namespace ventra::smc::platform
