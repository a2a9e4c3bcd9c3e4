#include "sim/machine_under_load.h"

#include "app/controller.h"
#include "composition/emulated_smc.h"
#include "sim/sim_desktop.h"

namespace ventra::sim {
namespace gpf = gpu::platform;
namespace {

// Tells the SMC once when the work it wraps has ended, however that is learnt.
class FeltSubmission final : public gpf::Submission {
 public:
  FeltSubmission(std::shared_ptr<gpf::Submission> inner,
                 std::shared_ptr<smc::emulator::SMCEmulator> smc)
      : inner_(std::move(inner)), smc_(std::move(smc)) {
    smc_->loadStarted();
  }
  ~FeltSubmission() override { ended(); }
  std::optional<std::string> wait() override {
    auto error = inner_->wait();
    ended();
    return error;
  }
  bool waitFor(double seconds) override {
    const bool done = inner_->waitFor(seconds);
    if (done) ended();
    return done;
  }
  void stop() override { inner_->stop(); }

 private:
  void ended() {
    if (!ended_) smc_->loadStopped();
    ended_ = true;
  }

  std::shared_ptr<gpf::Submission> inner_;
  std::shared_ptr<smc::emulator::SMCEmulator> smc_;
  bool ended_ = false;
};

// Passes every call through; each submission is load the SMC's fan feels.
class LoadFelt final : public gpf::GPUPlatform {
 public:
  LoadFelt(std::shared_ptr<gpf::GPUPlatform> inner, std::shared_ptr<smc::emulator::SMCEmulator> smc)
      : inner_(std::move(inner)), smc_(std::move(smc)) {}
  std::vector<gpf::DeviceFacts> devices() override { return inner_->devices(); }
  std::optional<gpf::DeviceFacts> defaultDevice() override { return inner_->defaultDevice(); }
  std::shared_ptr<gpf::DeviceMemory> allocate(std::size_t device, std::uint64_t length,
                                              const void* contents) override {
    return inner_->allocate(device, length, contents);
  }
  std::shared_ptr<gpf::Submission> submit(std::size_t device,
                                          std::vector<gpf::MatrixProduct> products) override {
    auto submission = inner_->submit(device, std::move(products));
    return submission ? std::make_shared<FeltSubmission>(std::move(submission), smc_) : nullptr;
  }
  // Readying is no load the fan feels.
  void prepareProducts(std::size_t device) override { inner_->prepareProducts(device); }
  std::optional<gpf::DeviceTemperature> temperature(std::size_t device) override {
    return inner_->temperature(device);
  }
  std::optional<std::string> problem() override { return inner_->problem(); }

 private:
  std::shared_ptr<gpf::GPUPlatform> inner_;
  std::shared_ptr<smc::emulator::SMCEmulator> smc_;
};

}  // namespace

MachineUnderLoad machineUnderLoad(const smc::emulator::Profile& profile,
                                  std::shared_ptr<gpf::GPUPlatform> gpu,
                                  std::function<double()> clock) {
  EmulatedSmc smc = emulatedSmc(profile);
  if (clock) smc.emulator->useClock(std::move(clock));
  Composition composition = smc.composition;
  if (gpu) composition.gpu = std::make_shared<LoadFelt>(std::move(gpu), smc.emulator);
  return {smc.emulator, std::move(composition)};
}

gpu::fake::FakeGPUOptions simulatedCard(VirtualClock& clock, double flopsPerSecond,
                                        std::uint64_t computeLimitBytes) {
  gpu::fake::FakeGPUOptions options({{"AMD Radeon RX 580", std::uint64_t{8} << 30}}, {},
                                    computeLimitBytes);
  options.flopsPerSecond = flopsPerSecond;
  options.passTime = [&clock](double seconds) { clock.advance(seconds); };
  return options;
}

std::shared_ptr<app::platform::Desktop> towerDesktop() {
  static const Scenario tower = [] {
    Scenario scenario;
    scenario.hostModel = app::kAcceptedHostModel;
    return scenario;
  }();
  static Trace trace;
  return simulatedDesktop(tower, trace);
}

MachineUnderLoad simulatedTower(const smc::emulator::Profile& profile, VirtualClock& clock,
                                double flopsPerSecond) {
  auto card = std::make_shared<gpu::fake::FakeGPU>(simulatedCard(clock, flopsPerSecond));
  MachineUnderLoad machine = machineUnderLoad(profile, card, [&clock] { return clock.now(); });
  machine.composition.desktop = towerDesktop();
  return machine;
}

}  // namespace ventra::sim
