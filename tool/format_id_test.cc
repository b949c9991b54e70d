#include "tool/format_id.h"

#include <gtest/gtest.h>

#include "lineio/string_printf.h"

namespace {

TEST(MakeFormatIdTest, FieldsAndWidths) {
  EXPECT_EQ(MakeFormatId(16, 29, 70, 0x12345, 0xAB1234), "KsL101D04651234");
  EXPECT_EQ(MakeFormatId(1, 1, 0x1FFF, 0xF, 0xFFFF), "KsL0101FFFFFFFF");  // height masked
  EXPECT_EQ(MakeFormatId(32, 255, 1, 0, 0), "KsL20FF00100000");
  EXPECT_EQ(MakeFormatId(5, 256, 70, 0, 0), "KsL0510004600000");    // 16 characters
  EXPECT_EQ(MakeFormatId(5, 2147483647, 70, 0, 0).size(), 21u);
}

// An identifier is "KsL" and the whole run of upper-case hex digits after
// it, so that one that extends another is a different one.
TEST(FormatIdTest, WholeIdentifiersAndSettings) {
  EXPECT_EQ(FormatIdIn("KsL0412C046AB1234/Wide\n"), "KsL0412C046AB1234");
  EXPECT_EQ(FormatIdIn("x KsL0412C046AB12\t:\t1\n"), "KsL0412C046AB12");
  EXPECT_EQ(FormatIdIn("KsL0412C046AB1\n"), "");  // too short
  EXPECT_TRUE(IsFormatId("KsL053E0643ABCD"));
  EXPECT_FALSE(IsFormatId("KsL053E0643ABCD "));
  EXPECT_FALSE(IsFormatId("Small"));
  EXPECT_TRUE(SettingValueIs("MediaSize=KsL053E0643ABCD\n", "KsL053E0643ABCD"));
  EXPECT_TRUE(SettingValueIs("Other=KsL053E0643ABCD", "KsL053E0643ABCD"));
  EXPECT_FALSE(SettingValueIs("MediaSize=KsL053E0643ABCD12\n", "KsL053E0643ABCD"));
  EXPECT_FALSE(SettingValueIs("MediaSize=KsL053E0643ABCD old\n", "KsL053E0643ABCD"));
  EXPECT_FALSE(SettingValueIs("KsL053E0643ABCD\n", "KsL053E0643ABCD"));
}

TEST(LabelSizeTest, WorkedExamples) {
  int32_t w = 0, h = 0;
  ASSERT_TRUE(WidthDots(29, &w));
  ASSERT_TRUE(HeightDots(70, &h));
  EXPECT_EQ(w, 306);
  EXPECT_EQ(h, 754);
  ASSERT_TRUE(WidthDots(54, &w));
  EXPECT_EQ(w, 590);  // the formula would give 601
  ASSERT_TRUE(WidthDots(62, &w));
  EXPECT_EQ(w, 695);
  ASSERT_TRUE(HeightDots(100, &h));
  EXPECT_EQ(h, 1108);
  ASSERT_TRUE(HeightDots(5, &h));
  EXPECT_EQ(h, -11);  // truncated toward zero
  ASSERT_TRUE(HeightDots(6, &h));
  EXPECT_EQ(h, 0);
  EXPECT_FALSE(WidthDots(2147483647, &w));
  EXPECT_FALSE(HeightDots(183000000, &h));

  EXPECT_EQ(StringPrintf("%.2f %.2f %.2f %.2f", kLeftMarginPoints, kBottomMarginPoints,
                         RightEdgePoints(29), TopEdgePoints(70)),
            "4.32 8.40 77.76 189.72");
  EXPECT_EQ(StringPrintf("%.2f %.2f", RightEdgePoints(54), TopEdgePoints(100)), "148.52 274.63");
}

}  // namespace
