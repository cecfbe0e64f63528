#include "fish/region_cache.h"
#include "fish/pixel_region.h"

#include <QPainter>
#include <gtest/gtest.h>
#include <random>

namespace kingyo {
namespace {

constexpr QRgb kWhite = 0xffffffff;

QImage filledFrame(QRgb background, int width = 100, int height = 100)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(background);
    return image;
}

// Every sample of the shape's area (and a margin) is inside exactly when expected says so.
template <class Expected>
void expectShape(const QRegion &shape, Expected expected)
{
    for (int y = 0; y < kShapeSamples + 2; ++y)
        for (int x = 0; x < kShapeSamples + 2; ++x)
            ASSERT_EQ(shape.contains(QPoint(x, y)), expected(x, y)) << "at " << x << "," << y;
}

bool onExtraRowOrColumn(int x, int y)
{
    return (x == 100 && y <= 100) || (y == 100 && x <= 100);
}

TEST(RegionCache, TopLeftColourIsTheKeyEvenWhenNotWhite)
{
    QImage frame = filledFrame(qRgb(20, 40, 200));
    QPainter(&frame).fillRect(QRect(10, 30, 11, 5), Qt::white);
    const QRegion shape = toQRegion(regionFromFrame(frame));
    expectShape(shape, [](int x, int y) {
        return onExtraRowOrColumn(x, y) || (x >= 10 && x <= 20 && y >= 30 && y <= 34);
    });
}

TEST(RegionCache, WhiteGlassEnclosedByTheBowlIsOutside)
{
    QImage frame = filledFrame(kWhite);
    {
        QPainter painter(&frame);
        painter.fillRect(QRect(20, 20, 60, 60), Qt::darkMagenta);
        painter.fillRect(QRect(30, 30, 40, 40), Qt::white); // glass inside the rim
    }
    const QRegion shape = toQRegion(regionFromFrame(frame));
    EXPECT_FALSE(shape.contains(QPoint(50, 50)));
    EXPECT_FALSE(shape.contains(QPoint(30, 30)));
    EXPECT_TRUE(shape.contains(QPoint(29, 29)));
    EXPECT_TRUE(shape.contains(QPoint(70, 50)));
    EXPECT_FALSE(shape.contains(QPoint(0, 0)));
}

TEST(RegionCache, PlainFrameLeavesOnlyTheExtraColumnAndRow)
{
    const RegionData data = regionFromFrame(filledFrame(qRgb(0, 128, 0)));
    EXPECT_EQ(data.dwSize, 32u);
    EXPECT_EQ(data.iType, 1u);
    const std::vector<RegionRect> expected{{100, 0, 101, 100}, {0, 100, 101, 101}};
    EXPECT_EQ(data.rects, expected);
    EXPECT_EQ(data.nCount, 2u);
    EXPECT_EQ(data.nRgnSize, 32u);
    EXPECT_EQ(data.rcBound, (RegionRect{0, 0, 101, 101}));
}

TEST(RegionCache, RunTouchingTheRightEdgeJoinsTheExtraColumn)
{
    QImage frame = filledFrame(kWhite);
    QPainter(&frame).fillRect(QRect(90, 0, 10, 100), Qt::black);
    const RegionData data = regionFromFrame(frame);
    const std::vector<RegionRect> expected{{90, 0, 101, 100}, {0, 100, 101, 101}};
    EXPECT_EQ(data.rects, expected);
}

TEST(RegionCache, MissingFrameIsAWholeSquare)
{
    const RegionData data = regionFromFrame(QImage());
    const std::vector<RegionRect> expected{{0, 0, 101, 101}};
    EXPECT_EQ(data.rects, expected);
}

// A frame of random blobs in a few colours, so runs, gaps and repeated rows all occur.
QImage randomFrame(std::mt19937 &engine, QSize size, int colours, int blobs)
{
    const QRgb palette[] = {kWhite, qRgb(120, 40, 160), qRgb(30, 160, 60), qRgb(230, 30, 20)};
    std::uniform_int_distribution<int> colour(0, colours - 1);
    std::uniform_int_distribution<int> px(0, size.width() - 1);
    std::uniform_int_distribution<int> py(0, size.height() - 1);
    std::uniform_int_distribution<int> extent(1, 30);
    QImage frame = filledFrame(palette[colour(engine)], size.width(), size.height());
    QPainter painter(&frame);
    for (int i = 0; i < blobs; ++i)
        painter.fillRect(QRect(px(engine), py(engine), extent(engine), extent(engine)), QColor(palette[colour(engine)]));
    painter.end();
    // Some single stray pixels as well.
    for (int i = 0; i < blobs; ++i)
        frame.setPixel(px(engine), py(engine), palette[colour(engine)]);
    return frame;
}

struct RandomFrameCase {
    unsigned seed;
    QSize size;
    int colours;
    int blobs;
};

// Names the case in test listings.
void PrintTo(const RandomFrameCase &c, std::ostream *out)
{
    *out << "seed " << c.seed << ", " << c.size.width() << "x" << c.size.height() << ", " << c.colours << " colours, "
         << c.blobs << " blobs";
}

const RandomFrameCase kRandomFrames[] = {
    {1, {100, 100}, 2, 5},  {2, {100, 100}, 2, 40}, {3, {100, 100}, 3, 120}, {4, {100, 100}, 4, 400},
    {5, {100, 100}, 4, 0},  {6, {37, 64}, 3, 30},   {7, {100, 20}, 2, 25},   {8, {1, 1}, 2, 1},
    {9, {100, 100}, 4, 2000},
};

class RandomFrames : public ::testing::TestWithParam<RandomFrameCase> {};

TEST_P(RandomFrames, RunsGiveTheSameShapeAsPixelByPixel)
{
    std::mt19937 engine(GetParam().seed);
    for (int round = 0; round < 5; ++round) {
        const QImage frame = randomFrame(engine, GetParam().size, GetParam().colours, GetParam().blobs);
        const QRegion expected = testing::pixelByPixelRegion(frame);
        const QRegion built = toQRegion(regionFromFrame(frame));
        expectShape(built, [&](int x, int y) { return expected.contains(QPoint(x, y)); });
        // Both are the canonical banded form, rectangle for rectangle.
        EXPECT_EQ(std::vector<QRect>(built.begin(), built.end()), std::vector<QRect>(expected.begin(), expected.end()));
    }
}

struct Band {
    int top;
    int bottom;
    std::vector<std::pair<int, int>> spans;
};

// Groups consecutive rectangles with the same top into bands; each band's rectangles
// must share the bottom too.
std::vector<Band> bandsOf(const std::vector<RegionRect> &rects)
{
    std::vector<Band> bands;
    for (const RegionRect &r : rects) {
        if (bands.empty() || bands.back().top != r.top)
            bands.push_back({r.top, r.bottom, {}});
        EXPECT_EQ(r.bottom, bands.back().bottom) << "rectangle of one band ends elsewhere";
        bands.back().spans.emplace_back(r.left, r.right);
    }
    return bands;
}

TEST_P(RandomFrames, RectanglesAreInBandedOrder)
{
    std::mt19937 engine(GetParam().seed);
    const RegionData data = regionFromFrame(randomFrame(engine, GetParam().size, GetParam().colours, GetParam().blobs));
    ASSERT_FALSE(data.rects.empty());
    EXPECT_EQ(data.nCount, data.rects.size());
    EXPECT_EQ(data.nRgnSize, 16 * data.nCount);

    const std::vector<Band> bands = bandsOf(data.rects);
    for (std::size_t i = 0; i < bands.size(); ++i) {
        ASSERT_LT(bands[i].top, bands[i].bottom);
        for (std::size_t j = 0; j < bands[i].spans.size(); ++j) {
            ASSERT_LT(bands[i].spans[j].first, bands[i].spans[j].second);
            if (j > 0) {
                ASSERT_GT(bands[i].spans[j].first, bands[i].spans[j - 1].second) << "touching rectangles are one";
            }
        }
        if (i > 0) {
            ASSERT_GE(bands[i].top, bands[i - 1].bottom);
            if (bands[i].top == bands[i - 1].bottom) {
                ASSERT_NE(bands[i].spans, bands[i - 1].spans) << "equal neighbouring bands are one";
            }
        }
    }

    RegionRect bound = data.rects.front();
    for (const RegionRect &r : data.rects)
        bound = {std::min(bound.left, r.left), std::min(bound.top, r.top), std::max(bound.right, r.right),
                 std::max(bound.bottom, r.bottom)};
    EXPECT_EQ(data.rcBound, bound);
}

INSTANTIATE_TEST_SUITE_P(Frames, RandomFrames, ::testing::ValuesIn(kRandomFrames));

TEST(RegionCache, EachSlotComesFromTheFrameOfTheSameIndex)
{
    std::array<QImage, kRegionSlots> frames;
    for (int i = 0; i < kRegionSlots; ++i) {
        frames[i] = filledFrame(kWhite);
        frames[i].setPixel(i * 10, 5, qRgb(0, 0, 0));
    }
    const RgnData cache = MakeRegions(frames);
    for (int slot = 0; slot < kRegionSlots; ++slot)
        for (int marker = 0; marker < kRegionSlots; ++marker)
            EXPECT_EQ(toQRegion(cache[slot]).contains(QPoint(marker * 10, 5)), slot == marker) << slot << " " << marker;
}

} // namespace
} // namespace kingyo
