#include "smc/platform/emulator/emulator.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace ventra::smc::emulator {
namespace pf = platform;
using Selector = SMCParamStruct::Selector;

namespace {

using SMCResultCode::kSMCKeyNotFound;
using SMCResultCode::kSMCSuccess;

class EmulatorClient final : public pf::UserClient {
 public:
  explicit EmulatorClient(std::shared_ptr<SMCEmulator> smc) : smc_(std::move(smc)) {}
  pf::kern_return_t callStructMethod(std::uint32_t selector, std::span<const std::uint8_t> input,
                                     std::span<std::uint8_t> output,
                                     std::size_t& outputSize) override {
    return smc_->call(selector, input, output, outputSize);
  }

 private:
  std::shared_ptr<SMCEmulator> smc_;
};

std::function<double()> realTimeSinceNow() {
  return [start = std::chrono::steady_clock::now()] {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
}

}  // namespace

SMCEmulator::SMCEmulator(Profile profile)
    : service_(profile.service),
      opensLeft_(profile.opensBeforeFailure),
      privilege_(profile.privilege),
      now_(realTimeSinceNow()) {
  if (profile.fanUnderLoad) fanUnderLoad_.emplace(*profile.fanUnderLoad);
  for (auto& key : profile.keys) {
    const FourCharCode code = key.code;
    index_.push_back(code);
    keys_.emplace(code, KeyState{std::move(key)});
  }
}

pf::kern_return_t SMCEmulator::open(std::uint32_t type, std::unique_ptr<pf::UserClient>& client) {
  if (service_ != Profile::Service::present || type != 0) return pf::kIOReturnError;
  if (opensLeft_) {
    if (*opensLeft_ == 0) return pf::kIOReturnError;
    --*opensLeft_;
  }
  client = std::make_unique<EmulatorClient>(shared_from_this());
  return pf::kIOReturnSuccess;
}

pf::kern_return_t SMCEmulator::call(std::uint32_t selector, std::span<const std::uint8_t> input,
                                    std::span<std::uint8_t> output, std::size_t& outputSize) {
  if (selector != rawValue(Selector::kSMCHandleYPCEvent) || input.size() != SMCParamStruct::kSize ||
      output.size() < SMCParamStruct::kSize)
    return pf::kIOReturnBadArgument;
  SMCParamStruct request = SMCParamStruct::fromRaw(input.data());
  pf::kern_return_t rc = pf::kIOReturnSuccess;
  SMCParamStruct reply = answer(request, rc);
  if (rc == pf::kIOReturnSuccess) {
    auto raw = reply.toRaw();
    std::copy(raw.begin(), raw.end(), output.begin());
    outputSize = SMCParamStruct::kSize;
  }
  return rc;
}

SMCParamStruct SMCEmulator::answer(const SMCParamStruct& request, pf::kern_return_t& rc) {
  std::lock_guard lock(mutex_);
  history_.push_back(request);
  if (history_.size() > kHistoryLimit) history_.pop_front();
  SMCParamStruct reply{};
  reply.key = request.key;
  bool isWrite = request.data8 == rawValue(Selector::kSMCWriteKey);
  if (privilege_ == Profile::Privilege::deniedForAll ||
      (privilege_ == Profile::Privilege::deniedForWrites && isWrite)) {
    rc = pf::kIOReturnNotPrivileged;
    return reply;
  }
  if (request.data8 == rawValue(Selector::kSMCGetKeyFromIndex)) {
    bool inRange = request.data32 < index_.size();
    reply.key = inRange ? index_[request.data32] : 0;
    reply.result = inRange ? kSMCSuccess : kSMCKeyNotFound;
    return reply;
  }
  auto found = keys_.find(request.key);
  if (found == keys_.end()) {
    reply.result = kSMCKeyNotFound;
    return reply;
  }
  const ProfileKey& key = found->second.key;
  const bool fails = key.failsOn == ProfileKey::FailsOn::everyRequest ||
                     request.data8 == rawValue(Selector::kSMCReadKey);
  if (fails && key.ioReturn) {
    rc = *key.ioReturn;
    return reply;
  }
  if (fails && key.result) {
    reply.result = *key.result;
    return reply;
  }
  answerKeyRequest(found->second, request, reply);
  return reply;
}

void SMCEmulator::answerKeyRequest(KeyState& state, const SMCParamStruct& request,
                                   SMCParamStruct& reply) {
  ProfileKey& key = state.key;
  switch (request.data8) {
    case rawValue(Selector::kSMCGetKeyInfo):
      reply.keyInfo.dataSize = key.info.size;
      reply.keyInfo.dataType = key.info.type;
      reply.keyInfo.dataAttributes = key.attributes;
      return;
    case rawValue(Selector::kSMCReadKey): {
      if (request.keyInfo.dataSize != key.info.size) {
        reply.result = kSMCKeySizeMismatch;
        return;
      }
      const auto value = *currentValue(state);
      std::copy(value.begin(), value.end(), reply.bytes.begin());
      state.nextRead = std::min(state.nextRead + 1, key.values.size() - 1);
      return;
    }
    case rawValue(Selector::kSMCWriteKey):
      if (!key.writable) {
        reply.result = kSMCKeyNotWritable;
      } else if (request.keyInfo.dataSize != key.info.size) {
        reply.result = kSMCKeySizeMismatch;
      } else {
        key.values = {std::vector<std::uint8_t>(request.bytes.begin(),
                                                request.bytes.begin() + key.info.size)};
        state.nextRead = 0;
      }
      return;
    default:
      reply.result = kSMCBadCommand;
  }
}

std::vector<SMCParamStruct> SMCEmulator::history() const {
  std::lock_guard lock(mutex_);
  return {history_.begin(), history_.end()};
}

void SMCEmulator::clearHistory() {
  std::lock_guard lock(mutex_);
  history_.clear();
}

std::optional<std::vector<std::uint8_t>> SMCEmulator::peek(FourCharCode code) const {
  std::lock_guard lock(mutex_);
  auto found = keys_.find(code);
  if (found == keys_.end()) return std::nullopt;
  return currentValue(found->second);
}

// The fan under load's speed key answers with the model's speed now, whatever its bytes say.
std::optional<std::vector<std::uint8_t>> SMCEmulator::currentValue(const KeyState& state) const {
  const ProfileKey& key = state.key;
  if (fanUnderLoad_ && key.code == fanUnderLoad_->speedKey()) {
    const auto rpm = static_cast<std::int64_t>(std::lround(fanUnderLoad_->rpmAt(now_())));
    const FPE2Bytes bytes = *fpe2FromInt(std::clamp<std::int64_t>(rpm, 0, kFPE2Max));
    return std::vector<std::uint8_t>{bytes.b0, bytes.b1};
  }
  return key.values[std::min(state.nextRead, key.values.size() - 1)];
}

void SMCEmulator::useClock(std::function<double()> now) {
  std::lock_guard lock(mutex_);
  now_ = std::move(now);
}

void SMCEmulator::loadStarted() {
  std::lock_guard lock(mutex_);
  if (fanUnderLoad_) fanUnderLoad_->loadStarted(now_());
}

void SMCEmulator::loadStopped() {
  std::lock_guard lock(mutex_);
  if (fanUnderLoad_) fanUnderLoad_->loadStopped(now_());
}

}  // namespace ventra::smc::emulator
