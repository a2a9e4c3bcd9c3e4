#pragma once

#include <cstdint>
#include <vector>

#include "smc/data_types.h"
#include "smc/param_struct.h"
#include "smc/platform/iokit.h"
#include "smc/smc_error.h"

// The SMC access core: one process-wide connection and the operations over it. Every key
// operation is exactly one driver round trip; failures throw SMCAccess::SMCError.
namespace ventra::SMCAccess {

// 0 until the first successful open; closing keeps the old value (the handle goes stale).
inline smc::platform::io_connect_t connection = 0;

// Throws driverNotFound or failedToOpen. Opening again replaces the handle without closing.
void openConnection();
// The platform's verdict; never throws.
bool closeConnection() noexcept;

// The one round trip under every operation. Throws keyNotFound, notPrivileged or unknown.
SMCParamStruct sendToDriver(const SMCParamStruct& input, SMCParamStruct::Selector selector);

DataType getKeyInfo(FourCharCode code);
SMCDataBytes readKey(const SMCKey& key);
void writeKey(const SMCKey& key, const SMCDataBytes& data);
// keyNotFound becomes false; every other failure is thrown.
bool hasKey(FourCharCode code);

// The value of "#KEY".
std::int64_t countKeys();
// Throws std::out_of_range for an index outside 0..4294967295 before any request.
FourCharCode getKeyFromIndex(std::int64_t index);
// Every key in index order with the type the SMC reports; 2 × count + 1 calls.
std::vector<SMCKey> listAllKeys();

}  // namespace ventra::SMCAccess
