// image!: scaling an image value to a size, which no Kov word reaches yet. The pixel mapping
// itself is tested in image_geometry_test.cpp; the rest of image! in tests/kov/image.kov.
#include <string>

#include "runtime/datatypes/image.h"
#include "tests/unit/eval_harness.h"

using namespace kov;
using namespace kov::test;

using ImageTest = Kov;

namespace {

// The molded image of the global `img` scaled to w × h, or "error: category/id".
std::string scaled(int64_t w, int64_t h) {
    stack::Mark mark;
    try {
        return mold(*image::push(global("img"), w, h));
    } catch (const Error& e) {
        return std::string("error: ") + err::category_words[err::defs[e.id].category] + "/" + err::defs[e.id].word;
    }
}

}  // namespace

TEST_F(ImageTest, PushScalesByNearestNeighbour) {
    // 2x1: a red pixel and a half-transparent blue one, held at its second pixel (scaling
    // takes the whole image and gives a new one at its head).
    ASSERT_EQ(eval("img: next make image! [2x1 #{FF00000000FF} #{0080}] 'ok"), "ok");
    std::string source = eval("head img");
    EXPECT_EQ(eval("to image! head img"), source);
    EXPECT_EQ(scaled(4, 2), eval("make image! [4x2 #{FF0000FF0000 0000FF0000FF FF0000FF0000 0000FF0000FF}"
                                 " #{00008080 00008080}]"));
    EXPECT_EQ(scaled(1, 1), eval("make image! [1x1 #{0000FF} #{80}]"));
    EXPECT_EQ(scaled(0, 3), eval("make image! 0x3"));
    EXPECT_EQ(scaled(-2, -2), eval("make image! 0x0"));
    EXPECT_EQ(eval("head img"), source);  // the source is left as it was
    EXPECT_EQ(eval("index? img"), "2");
    EXPECT_EQ(scaled(70000, 1), "error: internal/no-memory");
    // An image without pixels scales to one whose every byte is 0.
    ASSERT_EQ(eval("img: make image! 0x5 'ok"), "ok");
    EXPECT_EQ(scaled(2, 1), eval("make image! [2x1 #{000000000000} #{FFFF}]"));
}
