#include "sensors/fans.h"

#include "smc/smc_access.h"
#include "smc/utf8.h"

namespace ventra {
namespace {
using literals::operator""_fcc;

bool isTrimmed(char32_t c) {
  return c == U' ' || c == 0xA0 || c == U'\t';
}

SMCKey fanKey(std::int64_t fan, const char* suffix, DataType info) {
  std::string text = std::to_string(fan);
  text.insert(0, 1, 'F');
  text += suffix;
  auto code = fourCharCodeFromString(text);
  if (!code) throw SMCAccess::SMCError::keyNotFound(text);
  return SMCKey{*code, info};
}

std::int64_t readFanSpeed(std::int64_t fan, const char* suffix) {
  SMCDataBytes bytes = SMCAccess::readKey(fanKey(fan, suffix, DataTypes::FPE2));
  return intFromFPE2({bytes[0], bytes[1]});
}

}  // namespace

std::string fanNameFromDescriptor(const SMCDataBytes& bytes) {
  std::size_t first = 4;
  std::size_t last = 16;
  while (first < last && isTrimmed(bytes[first])) ++first;
  while (last > first && isTrimmed(bytes[last - 1])) --last;
  std::string name;
  for (std::size_t i = first; i < last; ++i) utf8::append(name, bytes[i]);
  return name;
}

namespace SMCAccess {

std::int64_t fanCount() {
  return readKey({"FNum"_fcc, DataTypes::UI8})[0];
}

std::string fanName(std::int64_t fan) {
  return fanNameFromDescriptor(readKey(fanKey(fan, "ID", DataTypes::FDS)));
}

std::int64_t fanCurrentSpeed(std::int64_t fan) {
  return readFanSpeed(fan, "Ac");
}
std::int64_t fanMinSpeed(std::int64_t fan) {
  return readFanSpeed(fan, "Mn");
}
std::int64_t fanMaxSpeed(std::int64_t fan) {
  return readFanSpeed(fan, "Mx");
}

Fan fan(std::int64_t number) {
  Fan record{number, fanName(number), 0, 0};
  record.minSpeed = fanMinSpeed(number);
  record.maxSpeed = fanMaxSpeed(number);
  return record;
}

std::vector<Fan> allFans() {
  std::int64_t count = fanCount();
  std::vector<Fan> fans;
  fans.reserve(static_cast<std::size_t>(count));
  for (std::int64_t number = 0; number < count; ++number) fans.push_back(fan(number));
  return fans;
}

void fanSetMinSpeed(std::int64_t fan, std::int64_t speed) {
  std::int64_t maximum = fanMaxSpeed(fan);
  if (speed <= 0 || speed > maximum) throw SMCError::unsafeFanSpeed();
  FPE2Bytes encoded = *fpe2FromInt(speed);  // speed <= maximum <= 16383
  SMCDataBytes data{};
  data[0] = encoded.b0;
  data[1] = encoded.b1;
  writeKey(fanKey(fan, "Mn", DataTypes::FPE2), data);
}

}  // namespace SMCAccess
}  // namespace ventra
