#include "views/sparkline.h"

#include <gtest/gtest.h>

#include <limits>

namespace ventra::ctl {
namespace {

TEST(Sparkline, ScalesToTheWindowAndShowsGapsAsBlanks) {
  Sparkline line(4);
  EXPECT_EQ(line.render(), "");
  EXPECT_FALSE(line.range());
  line.add(10);
  EXPECT_EQ(line.render(), "▅") << "a steady reading sits in the middle";
  line.add(20);
  line.add(std::nullopt);
  line.add(15);
  EXPECT_EQ(line.render(), "▁█ ▅");
  EXPECT_EQ(line.range(), std::make_pair(10.0, 20.0)) << "the gap is no sample";
  line.add(10);  // the oldest sample leaves the window
  EXPECT_EQ(line.render(), "█ ▅▁");
  line.add(std::numeric_limits<double>::quiet_NaN());
  EXPECT_EQ(line.render(), " █▁ ") << "not a number is no sample; 15 is now the high";
}

}  // namespace
}  // namespace ventra::ctl
