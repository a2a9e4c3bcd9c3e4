#include "smc/four_char_code.h"

#include <gtest/gtest.h>

#include "smc/data_types.h"

namespace ventra {
namespace {
using literals::operator""_fcc;

TEST(FourCharCode, ConvertsAsciiBothWays) {
  EXPECT_EQ(fourCharCodeFromString("#KEY"), 0x234B4559u);
  EXPECT_EQ(fourCharCodeToString(0x234B4559), "#KEY");
  EXPECT_EQ("#KEY"_fcc, 0x234B4559u);
  EXPECT_EQ(fourCharCodeFromLiteral("ui8 "), 0x75693820u);
  EXPECT_EQ(fourCharCodeToString(*fourCharCodeFromString("ui8 ")), "ui8 ");
}

TEST(FourCharCode, ZeroBecomesFourNulCharacters) {
  EXPECT_EQ(fourCharCodeToString(0), std::string(4, '\0'));
}

TEST(FourCharCode, HighBytesBecomeLatin1CharactersThatDoNotRoundTrip) {
  std::string text = fourCharCodeToString(0x80E95441);  // U+0080 U+00E9 'T' 'A'
  EXPECT_EQ(text, "\u0080\u00e9TA");
  EXPECT_EQ(text.size(), 6u);
  // Four characters, six UTF-8 bytes: only the last four bytes survive the shifts.
  EXPECT_EQ(fourCharCodeFromString(text), 0xC3A95441u);  // bytes C2 80 [C3 A9 54 41]
  EXPECT_EQ(fourCharCodeFromDisplayText(text), 0x80E95441u);
}

TEST(FourCharCode, DisplayTextRoundTripsEveryByte) {
  for (std::uint32_t b = 0; b < 256; ++b) {
    FourCharCode code = (b << 24) | (b << 16) | 0x2000 | (255 - b);
    EXPECT_EQ(fourCharCodeFromDisplayText(fourCharCodeToString(code)), code) << b;
  }
}

TEST(FourCharCode, NonAsciiTextKeepsTheLastFourUtf8Bytes) {
  // "żółw": 8 UTF-8 bytes C5 BC C3 B3 C5 82 77 ... the code holds the last four.
  EXPECT_EQ(fourCharCodeFromString("\u017c\u00f3\u0142w"), 0xB3C58277u);
}

TEST(FourCharCode, RejectsTextsOfOtherLengths) {
  for (const char* text : {"", "ABC", "ABCDE", "F10Ac"})
    EXPECT_FALSE(fourCharCodeFromString(text).has_value()) << text;
  EXPECT_FALSE(fourCharCodeFromLiteral("abc").has_value());
  EXPECT_FALSE(fourCharCodeFromDisplayText("ab\u0100c").has_value());
  EXPECT_FALSE(fourCharCodeFromString("AB\xC3").has_value()) << "truncated UTF-8";
  EXPECT_FALSE(fourCharCodeFromString("A\xC0\x80"
                                      "BC")
                   .has_value())
      << "overlong NUL";
}

TEST(FourCharCode, CountsUserPerceivedCharactersNotCodePoints) {
  // 'e' + combining acute is one character, so this is four characters.
  EXPECT_TRUE(fourCharCodeFromString("Fe\u0301ID").has_value());
  EXPECT_FALSE(fourCharCodeFromString("Fe\u0301I").has_value());
}

TEST(Fpe2, ConvertsAtTheBounds) {
  EXPECT_EQ(intFromFPE2({0x0B, 0xB8}), 750);
  EXPECT_EQ(fpe2FromInt(750), (FPE2Bytes{0x0B, 0xB8}));
  EXPECT_EQ(intFromFPE2({0xFF, 0xFF}), 16383);
  EXPECT_EQ(intFromFPE2({0x0F, 0xA3}), 1000) << "fraction bits dropped";
  EXPECT_EQ(intFromFPE2({0x00, 0x03}), 0);
  EXPECT_EQ(fpe2FromInt(16383), (FPE2Bytes{0xFF, 0xFC}));
  EXPECT_EQ(fpe2FromInt(0), (FPE2Bytes{0, 0}));
  EXPECT_FALSE(fpe2FromInt(16384).has_value());
  EXPECT_FALSE(fpe2FromInt(-1).has_value());
}

TEST(DataTypes, EqualityComparesTypeAndSize) {
  EXPECT_EQ(DataTypes::FPE2, (DataType{"fpe2"_fcc, 2}));
  EXPECT_NE(DataTypes::FPE2, (DataType{"fpe2"_fcc, 4}));
  EXPECT_NE(DataTypes::FPE2, DataTypes::SP78);
  EXPECT_EQ(DataTypes::UI8.type & 0xFF, 0x20u);
}

}  // namespace
}  // namespace ventra
