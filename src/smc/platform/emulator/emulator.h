#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "smc/param_struct.h"
#include "smc/platform/emulator/profile.h"
#include "smc/platform/service.h"

namespace ventra::smc::emulator {

using SMCResultCode::kSMCBadCommand;
using SMCResultCode::kSMCKeyNotWritable;
using SMCResultCode::kSMCKeySizeMismatch;

// An SMC behind the same byte-level interface as the real driver, serving a profile's key
// table in ascending code order. Every request block it receives is kept for inspection.
class SMCEmulator final : public platform::Service,
                          public std::enable_shared_from_this<SMCEmulator> {
 public:
  explicit SMCEmulator(Profile profile);

  platform::kern_return_t open(std::uint32_t type,
                               std::unique_ptr<platform::UserClient>& client) override;

  // Handles one call as the driver would; public so that clients and tests share one path.
  platform::kern_return_t call(std::uint32_t selector, std::span<const std::uint8_t> input,
                               std::span<std::uint8_t> output, std::size_t& outputSize);

  // The most recent requests, oldest first: at most kHistoryLimit, so a long watch stays small.
  static constexpr std::size_t kHistoryLimit = 4096;
  std::vector<SMCParamStruct> history() const;
  void clearHistory();
  // The value a read would return now, or nothing for a key the table lacks.
  std::optional<std::vector<std::uint8_t>> peek(FourCharCode code) const;

  // The profile's fan under load (where it has one) keeps time by this clock, in seconds: real
  // time since the emulator was made unless a simulation hands in its own.
  void useClock(std::function<double()> now);
  // The GPU starts or stops working now, by that clock.
  void loadStarted();
  void loadStopped();

 private:
  struct KeyState {
    ProfileKey key;
    std::size_t nextRead = 0;
  };

  SMCParamStruct answer(const SMCParamStruct& request, platform::kern_return_t& rc);
  void answerKeyRequest(KeyState& state, const SMCParamStruct& request, SMCParamStruct& reply);

  std::optional<std::vector<std::uint8_t>> currentValue(const KeyState& state) const;

  mutable std::mutex mutex_;
  Profile::Service service_;
  std::optional<std::uint32_t> opensLeft_;
  Profile::Privilege privilege_;
  std::map<FourCharCode, KeyState> keys_;
  std::vector<FourCharCode> index_;
  std::deque<SMCParamStruct> history_;
  std::optional<FanUnderLoad> fanUnderLoad_;
  std::function<double()> now_;
};

}  // namespace ventra::smc::emulator
