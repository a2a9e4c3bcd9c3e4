#include "smc/four_char_code.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "smc/data_types.h"
#include "smc/utf8.h"

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
  // A consonant and its spacing vowel sign are one: "कि" and two letters make three.
  EXPECT_FALSE(fourCharCodeFromString("\u0915\u093FAB").has_value());
  EXPECT_TRUE(fourCharCodeFromString("\u0915\u093FABC").has_value());
  // A Hangul syllable spelt in jamo is one: decomposed "가" and three letters make four.
  EXPECT_TRUE(fourCharCodeFromString("\u1100\u1161ABC").has_value());
  // A family joined by ZWJ, a flag, an emoji with a skin tone: one each.
  EXPECT_TRUE(
      fourCharCodeFromString("\U0001F468\u200D\U0001F469\u200D\U0001F467\U0001F1E9\U0001F1EAa"
                             "\U0001F44D\U0001F3FD")
          .has_value());
  EXPECT_FALSE(fourCharCodeFromString("\r\nAB").has_value()) << "CR LF is one: three";
}

// Unicode's own test of the rules, where its version is the table's (Debian's unicode-data).
TEST(FourCharCode, GraphemeClustersAsUnicodesOwnTestSaysWhereItsVersionMatches) {
  std::ifstream test("/usr/share/unicode/auxiliary/GraphemeBreakTest.txt");
  std::string header;
  if (!std::getline(test, header)) GTEST_SKIP() << "unicode-data is not installed";
  std::ifstream table(VENTRA_SOURCE_DIR "/src/smc/grapheme_break_data.inc");
  std::string generated;
  std::getline(table, generated);
  const std::string version = header.substr(header.find('-') + 1);  // "15.0.0.txt"
  if (generated.find("-" + version) == std::string::npos)
    GTEST_SKIP() << header << " is not the table's version: " << generated;
  std::size_t cases = 0, wrong = 0;
  for (std::string line; std::getline(test, line);) {
    line = line.substr(0, line.find('#'));
    if (line.empty()) continue;
    std::istringstream words(line);
    std::vector<char32_t> text;
    std::size_t breaks = 0;
    for (std::string word; words >> word;) {
      if (word == "\u00F7")
        ++breaks;  // ÷
      else if (word != "\u00D7")
        text.push_back(static_cast<char32_t>(std::stoul(word, nullptr, 16)));
    }
    ++cases;
    if (utf8::countCharacters(text) != breaks - 1) {
      ++wrong;
      ADD_FAILURE() << line;
    }
  }
  EXPECT_GT(cases, 500u);
  EXPECT_EQ(wrong, 0u);
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
