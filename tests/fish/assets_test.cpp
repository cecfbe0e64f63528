#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>

#include <gtest/gtest.h>

namespace {

struct Picture {
    const char *path;
    int width;
    int height;
};

// Names the case in test listings.
void PrintTo(const Picture &p, std::ostream *out)
{
    *out << p.path;
}

const Picture kPictures[] = {
    {":/assets/bowl/frame0.png", 100, 100},
    {":/assets/bowl/frame1.png", 100, 100},
    {":/assets/bowl/frame2.png", 100, 100},
    {":/assets/bowl/frame3.png", 100, 100},
    {":/assets/bowl/frame4.png", 100, 100},
    {":/assets/bowl/frame5.png", 100, 100},
    {":/assets/bowl/frame6.png", 100, 100},
    {":/assets/bowl/frame7.png", 100, 100},
    {":/assets/water.png", 74, 47},
    {":/assets/fish/left0.png", 29, 25},
    {":/assets/fish/left1.png", 29, 25},
    {":/assets/fish/right0.png", 29, 25},
    {":/assets/fish/right1.png", 29, 25},
    {":/assets/food.png", 14, 20},
    {":/assets/feeding_fish.png", 26, 32},
    {":/assets/bubble.png", 14, 20},
    {":/assets/letter.png", 18, 13},
    {":/assets/icon/kingyo.png", 64, 64},
};

const char *const kSprites[] = {
    ":/assets/fish/left0.png", ":/assets/fish/left1.png", ":/assets/fish/right0.png",
    ":/assets/fish/right1.png", ":/assets/food.png",      ":/assets/feeding_fish.png",
    ":/assets/bubble.png",      ":/assets/letter.png",      ":/assets/icon/kingyo.png",
};

QImage load(const char *path)
{
    return QImage(QString::fromLatin1(path));
}

QString frame(int index)
{
    return QStringLiteral(":/assets/bowl/frame%1.png").arg(index);
}

// The window's outline: every pixel that differs from the top-left one.
QList<QPoint> outlineOf(const QImage &image)
{
    const QRgb key = image.pixel(0, 0);
    QList<QPoint> inside;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != key)
                inside.append({x, y});
    return inside;
}

class AssetsTest : public ::testing::TestWithParam<Picture> {};

TEST_P(AssetsTest, LoadsFromTheResourcesAtItsDrawnSize)
{
    const Picture picture = GetParam();
    const QImage image = load(picture.path);
    ASSERT_FALSE(image.isNull()) << picture.path;
    EXPECT_EQ(image.size(), QSize(picture.width, picture.height)) << picture.path;
}

INSTANTIATE_TEST_SUITE_P(AllPictures, AssetsTest, ::testing::ValuesIn(kPictures));

TEST(AssetsBowl, FramesAreOpaqueOnWhite)
{
    for (int i = 0; i < 8; ++i) {
        const QImage image(frame(i));
        EXPECT_FALSE(image.hasAlphaChannel()) << "frame " << i;
        EXPECT_EQ(image.pixel(0, 0), qRgb(255, 255, 255)) << "frame " << i;
    }
}

TEST(AssetsSprites, HaveATransparentCorner)
{
    for (const char *path : kSprites) {
        const QImage image = load(path);
        ASSERT_FALSE(image.isNull()) << path;
        EXPECT_TRUE(image.hasAlphaChannel()) << path;
        EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0) << path;
    }
}

TEST(AssetsSprites, ShowSomething)
{
    for (const char *path : kSprites) {
        const QImage image = load(path);
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) == 255;
        EXPECT_GT(opaque, image.width() * image.height() / 10) << path;
    }
}

TEST(AssetsBowl, FrameTwoIsFrameOne)
{
    EXPECT_EQ(QImage(frame(2)), QImage(frame(1)));
}

TEST(AssetsBowl, FramesWithTheFishDiffer)
{
    const QImage empty(frame(0));
    for (int i = 1; i < 8; ++i)
        EXPECT_NE(QImage(frame(i)), empty) << "frame " << i;
}

// Frames 0 and 1 take turns as the outline while frame 0 is on show: the fish
// must not change it, or the desktop would flicker through the bowl.
TEST(AssetsBowl, EveryFrameKeepsTheEmptyBowlsOutline)
{
    const QList<QPoint> bowl = outlineOf(QImage(frame(0)));
    EXPECT_GT(bowl.size(), 3000);
    for (int i = 1; i < 8; ++i)
        EXPECT_EQ(outlineOf(QImage(frame(i))), bowl) << "frame " << i;
}

// The water box hides the bowl's water at (19, 48); lifted for feeding, it
// uncovers the bowl: both must show the same water so that nothing jumps.
TEST(AssetsBowl, WaterBoxMatchesTheWaterBehindIt)
{
    const QImage bowl = QImage(frame(0)).convertToFormat(QImage::Format_RGB32);
    const QImage water = load(":/assets/water.png").convertToFormat(QImage::Format_RGB32);
    const QRect visible(0, 0, 63, 39);
    int differing = 0;
    for (int y = visible.top(); y <= visible.bottom(); ++y)
        for (int x = visible.left(); x <= visible.right(); ++x)
            differing += water.pixel(x, y) != bowl.pixel(19 + x, 48 + y);
    EXPECT_EQ(differing, 0);
}

} // namespace
