#include "fish/region_cache.h"

#include <algorithm>
#include <utility>

namespace kingyo {
namespace {

using Span = std::pair<int, int>; // [first, second) of one row

// Reads a frame as the shape sees it: a sample is inside unless it lies within the
// picture and has the picture's key colour.
class FrameSampler {
public:
    explicit FrameSampler(const QImage &frame)
        : image_(frame.convertToFormat(QImage::Format_RGB32))
        , width_(std::min(image_.width(), kShapeSamples))
        , height_(std::min(image_.height(), kShapeSamples))
        , key_(image_.isNull() ? 0 : rgb(image_.pixel(0, 0)))
    {
    }

    void rowSpans(int y, std::vector<Span> &spans) const
    {
        spans.clear();
        if (y >= height_) {
            spans.emplace_back(0, kShapeSamples);
            return;
        }
        const auto *line = reinterpret_cast<const QRgb *>(image_.constScanLine(y));
        int x = 0;
        while (x < width_) {
            while (x < width_ && rgb(line[x]) == key_)
                ++x;
            if (x == width_)
                break;
            const int start = x;
            while (x < width_ && rgb(line[x]) != key_)
                ++x;
            spans.emplace_back(start, x);
        }
        // Samples right of the picture are inside; join them to a run touching the edge.
        if (!spans.empty() && spans.back().second == width_)
            spans.back().second = kShapeSamples;
        else
            spans.emplace_back(width_, kShapeSamples);
    }

private:
    static QRgb rgb(QRgb pixel) { return pixel & 0x00ffffffu; }

    QImage image_;
    int width_;
    int height_;
    QRgb key_;
};

void appendBand(const std::vector<Span> &spans, int top, int bottom, std::vector<RegionRect> &rects)
{
    for (const auto &[left, right] : spans)
        rects.push_back({left, top, right, bottom});
}

RegionRect boundOf(const std::vector<RegionRect> &rects)
{
    if (rects.empty())
        return {};
    RegionRect bound{rects.front().left, rects.front().top, rects.front().right, rects.back().bottom};
    for (const RegionRect &r : rects) {
        bound.left = std::min(bound.left, r.left);
        bound.right = std::max(bound.right, r.right);
    }
    return bound;
}

} // namespace

RegionData regionFromFrame(const QImage &frame)
{
    const FrameSampler sampler(frame);
    RegionData data;
    std::vector<Span> band;
    std::vector<Span> row;
    int bandTop = 0;
    sampler.rowSpans(0, band);
    // Rows with the same runs as the row above extend its band.
    for (int y = 1; y <= kShapeSamples; ++y) {
        if (y < kShapeSamples)
            sampler.rowSpans(y, row);
        else
            row.clear();
        if (row == band)
            continue;
        appendBand(band, bandTop, y, data.rects);
        band.swap(row);
        bandTop = y;
    }
    data.nCount = static_cast<std::uint32_t>(data.rects.size());
    data.nRgnSize = RegionData::kRectBytes * data.nCount;
    data.rcBound = boundOf(data.rects);
    return data;
}

RgnData MakeRegions(const BowlFrames &frames)
{
    RgnData cache;
    for (int i = 0; i < kRegionSlots; ++i)
        cache[i] = regionFromFrame(frames[i]);
    return cache;
}

QRegion toQRegion(const RegionData &data)
{
    std::vector<QRect> rects;
    rects.reserve(data.rects.size());
    for (const RegionRect &r : data.rects)
        rects.emplace_back(QPoint(r.left, r.top), QPoint(r.right - 1, r.bottom - 1));
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

} // namespace kingyo
