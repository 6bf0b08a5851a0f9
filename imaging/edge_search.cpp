#include "edge_search.h"

#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace edgesearch {
namespace {

constexpr int kWeightBits = 11;
constexpr int kWeightOne = 1 << kWeightBits;

enum class EdgeState : uint8_t { None, Edge, Unknown };

// For each output position along one axis: the two source positions and the
// weight of the second (out of kWeightOne). Pixel centres are aligned, as in
// OpenCV's bilinear resize; positions before the first or past the last
// source pixel take that pixel.
struct AxisTable {
    std::vector<int> first, second, weight;
};

AxisTable axisTable(int sourceSize, int viewSize, int from, int to)
{
    AxisTable table;
    const double scale = double(sourceSize) / double(viewSize);
    for (int u = from; u < to; ++u) {
        const double position = (u + 0.5) * scale - 0.5;
        int index = int(std::floor(position));
        double fraction = position - index;
        if (index < 0) {
            index = 0;
            fraction = 0.0;
        }
        if (index >= sourceSize - 1) {
            index = sourceSize - 1;
            fraction = 0.0;
        }
        table.first.push_back(index);
        table.second.push_back(std::min(index + 1, sourceSize - 1));
        table.weight.push_back(int(std::lround(fraction * kWeightOne)));
    }
    return table;
}

cv::Mat toGrey(const cv::Mat &picture)
{
    if (picture.channels() == 1)
        return picture;
    cv::Mat grey;
    cv::cvtColor(picture, grey, cv::COLOR_BGR2GRAY);
    return grey;
}

cv::Mat blurredGrey(const Source &source, const QSize &view, const cv::Rect &area)
{
    cv::Mat blurred;
    cv::medianBlur(toGrey(scaleRegion(source, view, area)), blurred, kMedianAperture);
    return blurred;
}

struct ScanResult {
    bool decided;
    QPoint point;
};

// The window scan in its fixed order; equal distances keep the earlier pixel.
// Stops undecided at an unknown pixel that would be taken if it were an edge.
template <typename StateAt>
ScanResult scanWindow(const EdgeRequest &request, StateAt stateAt)
{
    double best = kMaxDistance;
    QPoint result(request.x, request.y);
    bool decided = true;
    auto consider = [&](int px, int py, double distance) {
        if (px < 0 || py < 0 || px >= request.viewWidth || py >= request.viewHeight || !(distance < best))
            return true;
        const EdgeState state = stateAt(px, py);
        if (state == EdgeState::Unknown) {
            decided = false;
            return false;
        }
        if (state == EdgeState::Edge) {
            best = distance;
            result = QPoint(px, py);
        }
        return true;
    };
    if (request.type == VLine) {
        for (int dy = -kHalfWindow; dy < kHalfWindow; ++dy)
            if (!consider(request.x, request.y + dy, std::abs(dy)))
                break;
    } else if (request.type == HLine) {
        for (int dx = -kHalfWindow; dx < kHalfWindow; ++dx)
            if (!consider(request.x + dx, request.y, std::abs(dx)))
                break;
    } else {
        for (int dx = -kHalfWindow; dx < kHalfWindow && decided; ++dx)
            for (int dy = -kHalfWindow; dy < kHalfWindow; ++dy)
                if (!consider(request.x + dx, request.y + dy, std::sqrt(double(dx * dx + dy * dy))))
                    break;
    }
    return ScanResult{decided, result};
}

cv::Rect windowOf(const EdgeRequest &request)
{
    const int x0 = request.type == VLine ? request.x : request.x - kHalfWindow;
    const int x1 = request.type == VLine ? request.x + 1 : request.x + kHalfWindow;
    const int y0 = request.type == HLine ? request.y : request.y - kHalfWindow;
    const int y1 = request.type == HLine ? request.y + 1 : request.y + kHalfWindow;
    return cv::Rect(x0, y0, x1 - x0, y1 - y0) & cv::Rect(0, 0, request.viewWidth, request.viewHeight);
}

// Edge states of `region`'s exact part. Candidates are the pixels that
// survive non-maximum suppression above the low threshold (Canny with both
// thresholds low), strong ones those above the high threshold; Canny's
// hysteresis keeps exactly the 8-connected groups of candidates that hold a
// strong pixel. A group that reaches the region's open side may continue
// outside it and stays unknown unless it already holds a strong pixel.
class RegionStates
{
public:
    RegionStates(const Source &source, const QSize &view, const cv::Rect &region)
    {
        const cv::Mat blurred = blurredGrey(source, view, region);
        cv::Mat candidates, strong;
        cv::Canny(blurred, candidates, kCannyLow, kCannyLow, kCannyAperture, false);
        cv::Canny(blurred, strong, kCannyHigh, kCannyHigh, kCannyAperture, false);

        const bool openLeft = region.x > 0;
        const bool openTop = region.y > 0;
        const bool openRight = region.x + region.width < view.width();
        const bool openBottom = region.y + region.height < view.height();
        const int left = openLeft ? kFilterReach : 0;
        const int top = openTop ? kFilterReach : 0;
        const int right = region.width - (openRight ? kFilterReach : 0);
        const int bottom = region.height - (openBottom ? kFilterReach : 0);
        exact_ = cv::Rect(region.x + left, region.y + top, std::max(0, right - left), std::max(0, bottom - top));
        states_.assign(size_t(exact_.width) * exact_.height, EdgeState::None);

        std::vector<int> group;
        std::vector<uint8_t> seen(states_.size(), 0);
        for (int row = top; row < bottom; ++row) {
            for (int column = left; column < right; ++column) {
                const size_t start = index(column - left, row - top);
                if (seen[start] || !candidates.at<uint8_t>(row, column))
                    continue;
                group.clear();
                group.push_back(int(start));
                seen[start] = 1;
                bool hasStrong = false;
                bool reachesOpenSide = false;
                for (size_t next = 0; next < group.size(); ++next) {
                    const int gx = group[next] % exact_.width + left;
                    const int gy = group[next] / exact_.width + top;
                    hasStrong = hasStrong || strong.at<uint8_t>(gy, gx);
                    reachesOpenSide = reachesOpenSide || (openLeft && gx == left) || (openTop && gy == top)
                                      || (openRight && gx == right - 1) || (openBottom && gy == bottom - 1);
                    for (int ny = std::max(top, gy - 1); ny <= std::min(bottom - 1, gy + 1); ++ny) {
                        for (int nx = std::max(left, gx - 1); nx <= std::min(right - 1, gx + 1); ++nx) {
                            const size_t neighbour = index(nx - left, ny - top);
                            if (!seen[neighbour] && candidates.at<uint8_t>(ny, nx)) {
                                seen[neighbour] = 1;
                                group.push_back(int(neighbour));
                            }
                        }
                    }
                }
                const EdgeState state =
                    hasStrong ? EdgeState::Edge : (reachesOpenSide ? EdgeState::Unknown : EdgeState::None);
                for (int member : group)
                    states_[size_t(member)] = state;
            }
        }
    }

    // For view pixels inside the exact part only.
    EdgeState at(int x, int y) const
    {
        if (!exact_.contains(cv::Point(x, y)))
            return EdgeState::Unknown;
        return states_[index(x - exact_.x, y - exact_.y)];
    }

private:
    size_t index(int x, int y) const { return size_t(y) * exact_.width + x; }

    cv::Rect exact_;
    std::vector<EdgeState> states_;
};

}  // namespace

bool isSearchable(const EdgeRequest &request)
{
    return request.viewWidth > 0 && request.viewHeight > 0 && request.viewWidth <= kMaxViewSide
           && request.viewHeight <= kMaxViewSide && request.x >= 0 && request.y >= 0 && request.x < request.viewWidth
           && request.y < request.viewHeight;
}

cv::Mat scaleRegion(const Source &source, const QSize &view, const cv::Rect &area)
{
    const int channels = source.channels();
    const AxisTable columns = axisTable(source.width(), view.width(), area.x, area.x + area.width);
    const AxisTable rows = axisTable(source.height(), view.height(), area.y, area.y + area.height);
    const int sourceX = columns.first.front();
    const int sourceY = rows.first.front();
    const cv::Rect sourceArea(sourceX, sourceY, columns.second.back() - sourceX + 1, rows.second.back() - sourceY + 1);
    const cv::Mat pixels = source.region(sourceArea);

    cv::Mat scaled(area.height, area.width, CV_8UC(channels));
    for (int row = 0; row < area.height; ++row) {
        const uint8_t *upper = pixels.ptr<uint8_t>(rows.first[size_t(row)] - sourceY);
        const uint8_t *lower = pixels.ptr<uint8_t>(rows.second[size_t(row)] - sourceY);
        const int lowerWeight = rows.weight[size_t(row)];
        const int upperWeight = kWeightOne - lowerWeight;
        uint8_t *out = scaled.ptr<uint8_t>(row);
        for (int column = 0; column < area.width; ++column) {
            const int a = (columns.first[size_t(column)] - sourceX) * channels;
            const int b = (columns.second[size_t(column)] - sourceX) * channels;
            const int rightWeight = columns.weight[size_t(column)];
            const int leftWeight = kWeightOne - rightWeight;
            for (int channel = 0; channel < channels; ++channel) {
                const int top = upper[a + channel] * leftWeight + upper[b + channel] * rightWeight;
                const int bottom = lower[a + channel] * leftWeight + lower[b + channel] * rightWeight;
                // 255 * 2048 * 2048 stays below 2^31.
                *out++ = uint8_t((top * upperWeight + bottom * lowerWeight + (1 << (2 * kWeightBits - 1)))
                                 >> (2 * kWeightBits));
            }
        }
    }
    return scaled;
}

QPoint nearestEdgeInMap(const cv::Mat &edges, const EdgeRequest &request)
{
    return scanWindow(request, [&edges](int x, int y) {
               return edges.at<uint8_t>(y, x) ? EdgeState::Edge : EdgeState::None;
           })
        .point;
}

QPoint findNearestEdge(const Source &source, const EdgeRequest &request)
{
    const QPoint click(request.x, request.y);
    if (!isSearchable(request) || source.width() <= 0 || source.height() <= 0
        || (source.channels() != 1 && source.channels() != 3))
        return click;
    const QSize view(request.viewWidth, request.viewHeight);
    const cv::Rect whole(0, 0, view.width(), view.height());
    const cv::Rect window = windowOf(request);
    // Margins beyond the filters' reach, tried in turn; the last region is the
    // whole picture, where nothing stays unknown.
    for (int margin : {12, 60, 250, -1}) {
        cv::Rect region = whole;
        if (margin >= 0) {
            const int grow = kFilterReach + margin;
            region = cv::Rect(window.x - grow, window.y - grow, window.width + 2 * grow, window.height + 2 * grow) & whole;
        }
        const RegionStates states(source, view, region);
        const ScanResult result = scanWindow(request, [&states](int x, int y) { return states.at(x, y); });
        if (result.decided || region == whole)
            return result.point;
    }
    return click;
}

QPoint findNearestEdgeWholePicture(const Source &source, const EdgeRequest &request)
{
    const QPoint click(request.x, request.y);
    if (!isSearchable(request) || source.width() <= 0 || source.height() <= 0
        || (source.channels() != 1 && source.channels() != 3))
        return click;
    const QSize view(request.viewWidth, request.viewHeight);
    cv::Mat edges;
    cv::Canny(blurredGrey(source, view, cv::Rect(0, 0, view.width(), view.height())), edges, kCannyLow, kCannyHigh,
              kCannyAperture, false);
    return nearestEdgeInMap(edges, request);
}

}  // namespace edgesearch
