#include "installer_test.h"
#include "window/backdrop.h"
#include "window/frm_setup.h"

namespace {

std::vector<Band> Bands(double height, double width) {
  std::vector<Band> bands;
  Ramp ramp(height, width);
  Band band;
  while (ramp.Next(&band)) bands.push_back(band);
  return bands;
}

TEST(RampTest, BandsAndColours) {
  auto one = Bands(1, 100);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].blue, 255);
  EXPECT_EQ(one[0].left, -1);
  EXPECT_EQ(one[0].top, -1);
  EXPECT_EQ(one[0].right, 100);
  EXPECT_EQ(one[0].bottom, 2);

  auto three = Bands(3, 10);  // odd: last band at y = 2
  ASSERT_EQ(three.size(), 2u);
  EXPECT_EQ(three[1].top, 1);
  EXPECT_EQ(three[1].blue, 85);

  auto four = Bands(4, 10);  // 127.5 rounds to even
  ASSERT_EQ(four.size(), 3u);
  EXPECT_EQ(four[1].blue, 128);
  EXPECT_EQ(four[2].blue, 0);

  auto tall = Bands(547, 635);  // the window during installation
  ASSERT_EQ(tall.size(), 274u);
  EXPECT_EQ(tall.front().blue, 255);
  EXPECT_LE(tall.back().blue, 1);
  EXPECT_EQ(tall.back().top, 545);
  for (size_t i = 1; i < tall.size(); ++i) EXPECT_LE(tall[i].blue, tall[i - 1].blue);
}

TEST(RampTest, SizesRoundToEvenAndOutOfRangeSizesPaintNothing) {
  EXPECT_EQ(Bands(2.5, 10.5).size(), 2u);   // H = 2
  EXPECT_EQ(Bands(3.5, 10.5).size(), 3u);   // H = 4
  EXPECT_EQ(Bands(2, 10.5)[0].right, 10);
  EXPECT_EQ(Bands(32765, 10).size(), 16383u);
  EXPECT_EQ(Bands(2, 32767.4)[0].right, 32767);  // the widest width: the top of the 16-bit range
  const double refused[][2] = {{0, 10}, {-3, 10}, {32766, 10}, {40000, 10}, {10, 0}, {10, 40000}, {0.4, 10},
                               {10, 32767.5}, {10, -32769}, {__builtin_nan(""), 10}, {10, __builtin_nan("")}};
  for (const auto& size : refused) EXPECT_TRUE(Bands(size[0], size[1]).empty()) << size[0] << " x " << size[1];
}

TEST_F(InstallerTest, ResizePaintsRampThenShadowedTitleAndPlacesLabel) {
  FrmSetup form(fake, fake);
  fake.caption = u"Tavrel输入法安装";
  fake.client_height = 4;
  form.Resize();
  ASSERT_EQ(fake.paints.size(), 3u);
  EXPECT_EQ(fake.paints[0].colour, 255 * 65536);
  ASSERT_EQ(fake.prints.size(), 2u);
  EXPECT_EQ(fake.prints[0].x, 8);
  EXPECT_EQ(fake.prints[0].y, 8);
  EXPECT_EQ(fake.prints[0].colour, 0);
  EXPECT_EQ(fake.prints[0].text, u"Tavrel输入法安装");
  EXPECT_EQ(fake.prints[1].x, 4);
  EXPECT_EQ(fake.prints[1].y, 4);
  EXPECT_EQ(fake.prints[1].colour, 0xFFFFFF);
  EXPECT_EQ(fake.prints[1].text, u"Tavrel输入法安装");
  EXPECT_EQ(fake.label_left, 100);
  EXPECT_EQ(fake.label_top, 620);  // a 768-pixel screen

  fake.screen_height_twips = 600 * 15;
  fake.client_height = 0;  // minimized
  fake.paints.clear();
  form.Resize();
  EXPECT_TRUE(fake.paints.empty());
  EXPECT_EQ(fake.label_top, -1900);
}

}  // namespace
