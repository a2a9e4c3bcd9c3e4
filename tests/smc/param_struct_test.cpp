#include "smc/param_struct.h"

#include <gtest/gtest.h>

namespace ventra {
namespace {

TEST(SMCParamStruct, ValueInitialisedBlockIsZeroInEveryByte) {
  SMCParamStruct block{};
  for (auto byte : block.toRaw()) EXPECT_EQ(byte, 0);
}

// Fields land at the driver's offsets, in host byte order; checked through the raw bytes so a
// layout change that the compiler accepts still fails here.
TEST(SMCParamStruct, FieldsLandAtTheDriverOffsets) {
  SMCParamStruct block{};
  block.key = 0x234B4559;
  block.keyInfo.dataSize = 0x11223344;
  block.keyInfo.dataType = 0x55667788;
  block.keyInfo.dataAttributes = 0x99;
  block.result = 0xAA;
  block.data8 = 0xBB;
  block.data32 = 0xCCDDEEFF;
  block.bytes[0] = 0x01;
  block.bytes[31] = 0x02;
  auto raw = block.toRaw();
  auto u32 = [&](std::size_t at) {
    std::uint32_t v;
    std::memcpy(&v, raw.data() + at, 4);
    return v;
  };
  EXPECT_EQ(u32(0), 0x234B4559u);
  EXPECT_EQ(u32(28), 0x11223344u);
  EXPECT_EQ(u32(32), 0x55667788u);
  EXPECT_EQ(raw[36], 0x99);
  EXPECT_EQ(raw[37], 0);
  EXPECT_EQ(raw[40], 0xAA);
  EXPECT_EQ(raw[42], 0xBB);
  EXPECT_EQ(u32(44), 0xCCDDEEFFu);
  EXPECT_EQ(raw[48], 0x01);
  EXPECT_EQ(raw[79], 0x02);
  EXPECT_EQ(SMCParamStruct::fromRaw(raw.data()).toRaw(), raw);
}

TEST(SMCParamStruct, RawValuesConvertOnlyForListedNumbers) {
  using S = SMCParamStruct::Selector;
  using R = SMCParamStruct::Result;
  EXPECT_EQ(SMCParamStruct::selectorFromRaw(2), S::kSMCHandleYPCEvent);
  EXPECT_EQ(SMCParamStruct::selectorFromRaw(9), S::kSMCGetKeyInfo);
  EXPECT_EQ(rawValue(S::kSMCGetKeyFromIndex), 8);
  for (std::uint8_t raw : std::initializer_list<std::uint8_t>{0, 1, 3, 4, 7, 10, 255})
    EXPECT_FALSE(SMCParamStruct::selectorFromRaw(raw));
  EXPECT_EQ(SMCParamStruct::resultFromRaw(132), R::kSMCKeyNotFound);
  EXPECT_EQ(rawValue(R::kSMCError), 1);
  for (std::uint8_t raw : std::initializer_list<std::uint8_t>{2, 131, 133, 255})
    EXPECT_FALSE(SMCParamStruct::resultFromRaw(raw));
}

}  // namespace
}  // namespace ventra
