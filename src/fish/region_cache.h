#pragma once
#include <QImage>
#include <QRegion>
#include <array>
#include <cstdint>
#include <vector>

namespace kingyo {

// One rectangle of a region: left and top inside, right and bottom just outside.
struct RegionRect {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 0;
    std::int32_t bottom = 0;

    friend bool operator==(const RegionRect &, const RegionRect &) = default;
};

// A stored window shape: a rectangle list in banded order (bands top to bottom, each
// band's rectangles left to right, all of one band sharing top and bottom; no two
// rectangles of a band touch and no two touching bands have the same spans).
struct RegionData {
    static constexpr std::uint32_t kHeaderSize = 32;
    static constexpr std::uint32_t kRectangles = 1;
    static constexpr std::uint32_t kRectBytes = 16;

    std::uint32_t dwSize = kHeaderSize;
    std::uint32_t iType = kRectangles;
    std::uint32_t nCount = 0;
    std::uint32_t nRgnSize = 0; // kRectBytes * nCount
    RegionRect rcBound;         // all zero when there are no rectangles
    std::vector<RegionRect> rects;
};

// The eight cached shapes, slot i built from bowl frame i.
inline constexpr int kRegionSlots = 8;
using RgnData = std::array<RegionData, kRegionSlots>;
using BowlFrames = std::array<QImage, kRegionSlots>;

// A frame's shape is sampled over one column and one row more than the 100 x 100
// picture; samples outside the picture count as part of the shape.
inline constexpr int kShapeSamples = 101;

// The shape of one frame: every sample whose colour differs from the frame's top-left
// pixel, built from the horizontal runs of each row.
RegionData regionFromFrame(const QImage &frame);

// Fills every slot from the frame of the same index.
RgnData MakeRegions(const BowlFrames &frames);

// The same shape as a QRegion, ready for QWidget::setMask.
QRegion toQRegion(const RegionData &data);

} // namespace kingyo
