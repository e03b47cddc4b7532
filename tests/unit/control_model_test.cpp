// The control model's arithmetic: window styles, font heights, placement and the caption.
#include <gtest/gtest.h>

#include "ui/control_model.h"

namespace vkt5 {
namespace {

TEST(ControlModel, WindowStylesCombinePassedAndForcedBits) {
    EXPECT_EQ(windowStyleOf(ControlKind::PushButton, STYLE_BUTTON), 0x50000001u);
    EXPECT_EQ(windowStyleOf(ControlKind::PushButton, 0), 0x50010000u);
    EXPECT_EQ(windowStyleOf(ControlKind::Label, STYLE_LABEL), 0x50012000u);
    EXPECT_EQ(windowStyleOf(ControlKind::Image, STYLE_IMAGE), 0x5000000Eu);
    EXPECT_EQ(windowStyleOf(ControlKind::ProgressBar, STYLE_PROGRESS_SMOOTH), 0x50000001u);
    EXPECT_EQ(windowStyleOf(ControlKind::ProgressBar, STYLE_PROGRESS), 0x50000000u);
    EXPECT_EQ(windowStyleOf(ControlKind::ProgressBar, 0), 0x50800000u);
}

TEST(ControlModel, FontHeights) {
    EXPECT_EQ(fontPixelHeight(10, 96), -13);
    EXPECT_EQ(fontPixelHeight(12, 96), -16);
    EXPECT_EQ(fontPixelHeight(10, 120), -17);
    EXPECT_EQ(fontPixelHeight(12, 144), -24);
    EXPECT_EQ(dialogFont(), (FontSpec{"Arial", 10, 700, false, 0, 0, 0}));
    EXPECT_EQ(bannerFont(), (FontSpec{"Arial", 12, 700, false, 0, 0, 0}));
}

TEST(ControlModel, CentredInTheWorkAreaNeverOffScreen) {
    EXPECT_EQ(centredPosition({0, 0, 1024, 768}, 506, 269), (Point{259, 249}));
    EXPECT_EQ(centredPosition({0, 0, 1024, 738}, 506, 269), (Point{259, 234}));  // task bar
    EXPECT_EQ(centredPosition({0, 0, 1023, 767}, 506, 269), (Point{258, 249}));  // truncates
    EXPECT_EQ(centredPosition({0, 0, 400, 200}, 506, 269), (Point{0, 0}));
    EXPECT_EQ(centredPosition({-600, 0, 500, 768}, 506, 269), (Point{0, 249}));
}

TEST(ControlModel, CaptionAndBanner) {
    EXPECT_EQ(dialogCaption().rfind(" Corvane    VKT-5    Phone ", 0), 0u);
    EXPECT_GT(dialogCaption().size(), std::string(" Corvane    VKT-5    Phone ").size());
    EXPECT_EQ(BANNER_TEXT, "C o r v a n e");
    EXPECT_EQ(redOf(BANNER_TEXT_COLOR), 0);
    EXPECT_EQ(greenOf(BANNER_TEXT_COLOR), 0);
    EXPECT_EQ(blueOf(BANNER_TEXT_COLOR), 140);
}

}  // namespace
}  // namespace vkt5
