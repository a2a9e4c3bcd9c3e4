#include "smc/smc_access.h"

#include "smc/platform/service.h"

namespace ventra::SMCAccess {
namespace pf = smc::platform;
using Selector = SMCParamStruct::Selector;

namespace {

constexpr std::uint8_t kResultSuccess = 0;

SMCParamStruct requestFor(FourCharCode code, Selector command) {
  SMCParamStruct request{};
  request.key = code;
  request.data8 = rawValue(command);
  return request;
}

}  // namespace

void openConnection() {
  pf::io_service_t service =
      pf::IOServiceGetMatchingService(pf::IOServiceMatching(pf::kAppleSMCServiceName));
  if (service == 0) throw SMCError::driverNotFound();
  pf::kern_return_t rc = pf::IOServiceOpen(service, 0, &connection);
  pf::IOObjectRelease(service);
  if (rc != pf::kIOReturnSuccess) throw SMCError::failedToOpen();
}

bool closeConnection() noexcept {
  return pf::IOServiceClose(connection) == pf::kIOReturnSuccess;
}

SMCParamStruct sendToDriver(const SMCParamStruct& input, Selector selector) {
  SMCParamStruct answer{};
  std::size_t answerSize = SMCParamStruct::kSize;
  pf::kern_return_t rc = pf::IOConnectCallStructMethod(connection, rawValue(selector), &input,
                                                       SMCParamStruct::kSize, &answer, &answerSize);
  if (rc == pf::kIOReturnSuccess) {
    if (answer.result == SMCResultCode::kSMCKeyNotFound)
      throw SMCError::keyNotFound(fourCharCodeToString(input.key));
    if (answer.result == kResultSuccess) return answer;
  }
  if (rc == pf::kIOReturnNotPrivileged) throw SMCError::notPrivileged();
  throw SMCError::unknown(rc, answer.result);
}

DataType getKeyInfo(FourCharCode code) {
  SMCParamStruct answer =
      sendToDriver(requestFor(code, Selector::kSMCGetKeyInfo), Selector::kSMCHandleYPCEvent);
  return DataType{answer.keyInfo.dataType, answer.keyInfo.dataSize};
}

SMCDataBytes readKey(const SMCKey& key) {
  SMCParamStruct request = requestFor(key.code, Selector::kSMCReadKey);
  request.keyInfo.dataSize = key.info.size;
  return sendToDriver(request, Selector::kSMCHandleYPCEvent).bytes;
}

void writeKey(const SMCKey& key, const SMCDataBytes& data) {
  SMCParamStruct request = requestFor(key.code, Selector::kSMCWriteKey);
  request.keyInfo.dataSize = key.info.size;
  request.bytes = data;
  sendToDriver(request, Selector::kSMCHandleYPCEvent);
}

bool hasKey(FourCharCode code) {
  try {
    getKeyInfo(code);
    return true;
  } catch (const SMCError& error) {
    if (error.kind() == SMCError::Kind::keyNotFound) return false;
    throw;
  }
}

}  // namespace ventra::SMCAccess
