#include <gtest/gtest.h>

#include "GridTestSupport.h"
#include "app/ImageCache.h"
#include "app/ImageCell.h"
#include "app/TextCell.h"

namespace tabulo {
namespace {

using platform::Rect;

std::shared_ptr<const platform::Image> photo(int width, int height) {
  return platform::Image::fromJPEGData(testing::makeJPEG(width, height, {10, 20, 30}));
}

TEST(GridCells, LayOutTheirContentInsetAndFollowFrameChanges) {
  TextCell text(Rect{0, 0, 100, 30});
  EXPECT_EQ(text.label()->frame(), (Rect{4, 2, 92, 26}));
  EXPECT_EQ(text.label()->fontSize(), 14);
  text.setFrame(Rect{50, 20, 200, 60});
  EXPECT_EQ(text.label()->frame(), (Rect{4, 2, 192, 56}));
  EXPECT_EQ(text.contentView()->frame(), (Rect{0, 0, 200, 60}));

  // A wide photo fits inside the inset bounds without distortion.
  ImageCell image(Rect{0, 0, 100, 30});
  EXPECT_EQ(image.imageView()->frame(), (Rect{4, 2, 92, 26}));
  image.imageView()->setImage(photo(200, 100));
  EXPECT_EQ(image.imageView()->imageRect(), (Rect{20, 0, 52, 26}));
}

TEST(GridCells, SelectionTintsBlueAtTwentyPercent) {
  TextCell text(Rect{0, 0, 100, 30});
  ImageCell image(Rect{0, 0, 100, 30});
  for (platform::Cell* cell : {static_cast<platform::Cell*>(&text), static_cast<platform::Cell*>(&image)}) {
    ASSERT_TRUE(cell->selectedBackgroundView());
    EXPECT_EQ(cell->selectedBackgroundView()->backgroundColor(), (platform::Color{0, 0, 1, 0.2}));
    EXPECT_TRUE(cell->selectedBackgroundView()->isHidden());
    cell->setSelected(true);
    EXPECT_FALSE(cell->selectedBackgroundView()->isHidden());
    cell->setSelected(false);
    EXPECT_TRUE(cell->selectedBackgroundView()->isHidden());
  }
}

TEST(ImageCache, EvictsTheLeastRecentlyUsedPastItsBudget) {
  auto a = photo(8, 8), b = photo(16, 16), c = photo(24, 24);
  ImageCache cache(a->byteCost() + b->byteCost() + c->byteCost() - 1);
  cache.setObject(a, "a");
  cache.setObject(b, "b");
  EXPECT_EQ(cache.object("a"), a);  // a is now more recent than b
  cache.setObject(c, "c");
  EXPECT_EQ(cache.object("b"), nullptr);
  EXPECT_EQ(cache.object("a"), a);
  EXPECT_EQ(cache.object("c"), c);
  EXPECT_EQ(cache.totalCost(), a->byteCost() + c->byteCost());

  // Replacing a key counts its new cost only; an image over the whole budget
  // is not kept and evicts nothing.
  cache.setObject(b, "a");
  EXPECT_EQ(cache.totalCost(), b->byteCost() + c->byteCost());
  ImageCache tiny(a->byteCost() - 1);
  tiny.setObject(a, "a");
  EXPECT_EQ(tiny.count(), 0u);
  EXPECT_EQ(tiny.totalCost(), 0u);
}

}  // namespace
}  // namespace tabulo
