#include "picture_stitch.h"

#include "frame_convert.h"

#include <QDebug>
#include <opencv2/imgproc.hpp>

#include <array>
#include <cmath>
#include <cstring>
#include <limits>

namespace stitching {
namespace {

// The coarsest level of the pyramid is at most this wide; the full search
// runs there, and each finer level only refines.
constexpr int kCoarseWidth = 480;
// Hill-climbing steps allowed per level; one or two are the rule.
constexpr int kMaxClimbSteps = 16;

// A template: its rectangle in the current frame at full size.
std::array<cv::Rect, 10> templateRects(int width, int height)
{
    std::array<cv::Rect, 10> rects;
    int n = 0;
    for (int d = 2; d <= 3; ++d) {
        const int w = width, h = height;
        // Rows and columns as [begin, end); products before the division.
        const auto rect = [](int x0, int x1, int y0, int y1) { return cv::Rect(x0, y0, x1 - x0, y1 - y0); };
        rects[n++] = rect((d - 1) * w / (2 * d), (d + 1) * w / (2 * d), (d - 1) * h / (2 * d), (d + 1) * h / (2 * d));
        rects[n++] = rect(0, w / d, h - h / d, h - 1);
        rects[n++] = rect(w - w / d, w - 1, 0, h / d);
        rects[n++] = rect(w - w / d, w - 1, h - h / d, h - 1);
        rects[n++] = rect(0, w / d, 0, h / d);
    }
    return rects;
}

cv::Rect atLevel(const cv::Rect &rect, int level)
{
    return cv::Rect(rect.x >> level, rect.y >> level, rect.width >> level, rect.height >> level);
}

// Normalised correlation coefficient of a template with the window of the
// same size at `at` in `image` (as OpenCV's TM_CCOEFF_NORMED); 0 where
// either has no variance.
class Correlator
{
public:
    explicit Correlator(cv::Mat templ) : templ_(std::move(templ))
    {
        uint64_t sum = 0, squares = 0;
        for (int row = 0; row < templ_.rows; ++row) {
            const uint8_t *t = templ_.ptr<uint8_t>(row);
            for (int x = 0; x < templ_.cols; ++x) {
                sum += t[x];
                squares += uint32_t(t[x]) * t[x];
            }
        }
        count_ = double(templ_.total());
        sum_ = double(sum);
        variance_ = double(squares) - sum_ * sum_ / count_;
    }

    bool fits(const cv::Mat &image, const cv::Point &at) const
    {
        return at.x >= 0 && at.y >= 0 && at.x + templ_.cols <= image.cols && at.y + templ_.rows <= image.rows;
    }

    double score(const cv::Mat &image, const cv::Point &at) const
    {
        if (!fits(image, at))
            return -std::numeric_limits<double>::infinity();
        uint64_t products = 0, sum = 0, squares = 0;
        for (int row = 0; row < templ_.rows; ++row) {
            const uint8_t *t = templ_.ptr<uint8_t>(row);
            const uint8_t *p = image.ptr<uint8_t>(at.y + row) + at.x;
            // A row of at most 8192 pixels keeps each sum within 32 bits.
            uint32_t rowProducts = 0, rowSum = 0, rowSquares = 0;
            for (int x = 0; x < templ_.cols; ++x) {
                const uint32_t a = t[x], b = p[x];
                rowProducts += a * b;
                rowSum += b;
                rowSquares += b * b;
            }
            products += rowProducts;
            sum += rowSum;
            squares += rowSquares;
        }
        const double imageVariance = double(squares) - double(sum) * double(sum) / count_;
        const double denominator = std::sqrt(std::max(0.0, variance_) * std::max(0.0, imageVariance));
        if (denominator < 1e-6)
            return 0.0;
        return (double(products) - sum_ * double(sum) / count_) / denominator;
    }

private:
    cv::Mat templ_;
    double count_ = 0, sum_ = 0, variance_ = 0;
};

// Climbs from `displacement` to the neighbouring displacement of highest
// score until none of the eight neighbours scores higher. False when the
// top lies on the edge of the displacements that keep the template inside
// the image: the true peak may then lie beyond, and a slope of a smooth
// picture can score high well away from it.
bool climb(const Correlator &correlator, const cv::Mat &image, const cv::Point &origin, cv::Point &displacement,
           double &best)
{
    // Neighbourhoods overlap from one step to the next: score each
    // displacement once. The new ones of a step are scored in parallel.
    std::vector<std::pair<cv::Point, double>> scored;
    const auto known = [&](const cv::Point &candidate, double &score) {
        for (const auto &entry : scored)
            if (entry.first == candidate) {
                score = entry.second;
                return true;
            }
        return false;
    };
    const auto scoreAround = [&](const cv::Point &centre) {
        std::vector<cv::Point> fresh;
        double unused;
        for (int dy = -1; dy <= 1; ++dy)
            for (int dx = -1; dx <= 1; ++dx)
                if (!known(centre + cv::Point(dx, dy), unused))
                    fresh.push_back(centre + cv::Point(dx, dy));
        std::vector<double> scores(fresh.size());
        cv::parallel_for_(cv::Range(0, int(fresh.size())), [&](const cv::Range &range) {
            for (int i = range.start; i < range.end; ++i)
                scores[size_t(i)] = correlator.score(image, origin + fresh[size_t(i)]);
        });
        for (size_t i = 0; i < fresh.size(); ++i)
            scored.emplace_back(fresh[i], scores[i]);
    };
    scoreAround(displacement);
    known(displacement, best);
    for (int step = 0; step < kMaxClimbSteps; ++step) {
        cv::Point next = displacement;
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const cv::Point candidate = displacement + cv::Point(dx, dy);
                double score = 0;
                known(candidate, score);
                if (score > best) {
                    best = score;
                    next = candidate;
                }
            }
        }
        if (next == displacement)
            break;
        displacement = next;
        scoreAround(displacement);
    }
    for (const cv::Point &side : {cv::Point(-1, 0), cv::Point(1, 0), cv::Point(0, -1), cv::Point(0, 1)})
        if (!correlator.fits(image, origin + displacement + side))
            return false;
    return true;
}

bool textured(const cv::Mat &templ)
{
    cv::Scalar mean, deviation;
    cv::meanStdDev(templ, mean, deviation);
    return deviation[0] >= kMinTemplateDeviation;
}

}  // namespace

GreyPyramid makeGreyPyramid(const cv::Mat &grey)
{
    GreyPyramid pyramid;
    if (grey.empty())
        return pyramid;
    // In bands of rows, in parallel: a band of a larger picture reads its
    // neighbours' rows, so the bands come out as the whole picture would.
    cv::Mat blurred(grey.size(), CV_8UC1);
    const int bands = std::max(1, std::min(cv::getNumThreads(), grey.rows / 64));
    cv::parallel_for_(cv::Range(0, bands), [&](const cv::Range &range) {
        for (int b = range.start; b < range.end; ++b) {
            const int first = grey.rows * b / bands, last = grey.rows * (b + 1) / bands;
            cv::Mat part = blurred.rowRange(first, last);
            cv::blur(grey.rowRange(first, last), part, cv::Size(kBlurSize, kBlurSize), cv::Point(-1, -1),
                     cv::BORDER_REFLECT_101);
        }
    });
    pyramid.levels.push_back(blurred);
    while (pyramid.levels.back().cols > kCoarseWidth && pyramid.levels.back().rows >= 2 * kMinFrameSide) {
        const cv::Mat &last = pyramid.levels.back();
        cv::Mat half;
        cv::resize(last, half, cv::Size(last.cols / 2, last.rows / 2), 0, 0, cv::INTER_AREA);
        pyramid.levels.push_back(half);
    }
    return pyramid;
}

bool matchOffset(const GreyPyramid &previous, const GreyPyramid &current, cv::Point &shift)
{
    if (previous.empty() || previous.levels.size() != current.levels.size()
        || previous.levels[0].size() != current.levels[0].size())
        return false;
    const int top = int(current.levels.size()) - 1;
    const cv::Mat &full = current.levels[0];
    for (const cv::Rect &rect : templateRects(full.cols, full.rows)) {
        if (rect.width < 1 || rect.height < 1 || !textured(full(rect)))
            continue;
        // Full search on the coarsest level.
        const cv::Rect coarse = atLevel(rect, top);
        if (coarse.width < 2 || coarse.height < 2)
            continue;
        cv::Mat scores;
        cv::matchTemplate(previous.levels[top], current.levels[top](coarse), scores, cv::TM_CCOEFF_NORMED);
        cv::patchNaNs(scores, 0.0);
        double best = 0.0;
        cv::Point location;
        cv::minMaxLoc(scores, nullptr, &best, nullptr, &location);
        if (best < kMatchThreshold)
            continue;
        // Down the levels: double the displacement and climb to the best
        // one near it (on the coarsest level itself only the edge check).
        cv::Point displacement = location - coarse.tl();
        double score = best;
        bool inside = true;
        for (int level = top; level >= 0 && inside; --level) {
            const cv::Rect here = atLevel(rect, level);
            if (level < top)
                displacement *= 2;
            inside = climb(Correlator(current.levels[level](here).clone()), previous.levels[level], here.tl(),
                           displacement, score);
        }
        if (!inside || score < kMatchThreshold)
            continue;
        shift = displacement;
        return true;
    }
    return false;
}

Growth planGrowth(const cv::Size &canvas, const cv::Size &frame, const cv::Point &position)
{
    Growth growth;
    growth.size = canvas;
    cv::Point at = position;
    const auto fits = [&] {
        return at.x >= 0 && at.y >= 0 && at.x + frame.width <= growth.size.width
               && at.y + frame.height <= growth.size.height;
    };
    for (int step = 0; step < 2 && !fits(); ++step) {
        const cv::Size before = growth.size;
        if (at.y < 0) {
            growth.size.height += frame.height / 3;
            growth.shift.y += frame.height / 3;
            at.y += frame.height / 3;
        }
        if (at.x < 0) {
            growth.size.width += frame.width / 3;
            growth.shift.x += frame.width / 3;
            at.x += frame.width / 3;
        }
        if (before.width < at.x + frame.width)
            growth.size.width += frame.width / 3;
        if (before.height < at.y + frame.height)
            growth.size.height += frame.height / 3;
    }
    growth.fits = fits();
    return growth;
}

bool canvasSizeAllowed(const cv::Size &size)
{
    return size.width > 0 && size.height > 0 && size.width <= kMaxCanvasSide && size.height <= kMaxCanvasSide
           && qint64(size.width) * size.height * 3 <= kMaxCanvasBytes;
}

void blendFrame(const cv::Mat &frame, cv::Mat &canvas, const cv::Point &position)
{
    const int h = frame.rows, w = frame.cols;
    std::vector<float> rowWeight(static_cast<size_t>(h)), columnWeight(static_cast<size_t>(w));
    const float halfHeight = h / 2.0f, halfWidth = w / 2.0f;
    for (int i = 0; i < h; ++i)
        rowWeight[size_t(i)] = (halfHeight - std::abs(halfHeight - float(i))) / halfHeight;
    for (int j = 0; j < w; ++j)
        columnWeight[size_t(j)] = (halfWidth - std::abs(halfWidth - float(j))) / halfWidth;

    cv::parallel_for_(cv::Range(0, h), [&](const cv::Range &rows) {
        for (int i = rows.start; i < rows.end; ++i) {
            const uint8_t *in = frame.ptr<uint8_t>(i);
            uint8_t *out = canvas.ptr<uint8_t>(position.y + i) + 3 * position.x;
            const float weightOfRow = rowWeight[size_t(i)];
            for (int j = 0; j < w; ++j, in += 3, out += 3) {
                if ((out[0] | out[1] | out[2]) == 0) {
                    out[0] = in[0];
                    out[1] = in[1];
                    out[2] = in[2];
                    continue;
                }
                // Rounded, not truncated: a pixel blended over and over with
                // the same content must not darken step by step.
                const float m = std::min(weightOfRow, columnWeight[size_t(j)]);
                for (int c = 0; c < 3; ++c)
                    out[c] = uint8_t(float(in[c]) * m + float(out[c]) * (1.0f - m) + 0.5f);
            }
        }
    });
}

}  // namespace stitching

using namespace stitching;

namespace {

// An 8-bit B, G, R matrix over the canvas's pixels. Writable: taking the
// bits separates the canvas from pictures handed out before.
cv::Mat canvasMatrix(QImage &canvas)
{
    return cv::Mat(canvas.height(), canvas.width(), CV_8UC3, canvas.bits(), size_t(canvas.bytesPerLine()));
}

// A black canvas of `size` with `old` copied in at `at`; null when memory
// runs out.
QImage grownCanvas(const QImage &old, const cv::Size &size, const cv::Point &at)
{
    QImage grown(size.width, size.height, QImage::Format_BGR888);
    if (grown.isNull())
        return grown;
    const size_t rowBytes = size_t(size.width) * 3;
    for (int row = 0; row < size.height; ++row) {
        uint8_t *out = grown.scanLine(row);
        const int oldRow = row - at.y;
        if (oldRow < 0 || oldRow >= old.height()) {
            std::memset(out, 0, rowBytes);
            continue;
        }
        const size_t left = size_t(at.x) * 3, middle = size_t(old.width()) * 3;
        std::memset(out, 0, left);
        std::memcpy(out + left, old.constScanLine(oldRow), middle);
        std::memset(out + left + middle, 0, rowBytes - left - middle);
    }
    return grown;
}

}  // namespace

PictureStitch::PictureStitch(QObject *parent) : QObject(parent)
{
}

void PictureStitch::reset()
{
    canvas_ = QImage();
    previous_ = GreyPyramid();
    frameSize_ = cv::Size();
    offset_ = cv::Point(0, 0);
}

void PictureStitch::onStart()
{
    running_ = true;
    reset();
}

void PictureStitch::onStop()
{
    running_ = false;
    reset();
}

void PictureStitch::onRecvVideoFrame(VideoFrame frame)
{
    const Outcome outcome = handleFrame(frame);
    if (outcome != Outcome::Ignored && outcome != Outcome::Ended)
        emit getNextVideoFrame();
}

PictureStitch::Outcome PictureStitch::startCanvas(const cv::Mat &frame, GreyPyramid pyramid)
{
    const cv::Size size(frame.cols * 2, frame.rows * 2);
    if (!canvasSizeAllowed(size))
        return endRun();
    canvas_ = QImage(size.width, size.height, QImage::Format_BGR888);
    if (canvas_.isNull())
        return endRun();
    std::memset(canvas_.bits(), 0, size_t(canvas_.sizeInBytes()));
    offset_ = cv::Point(frame.cols / 2, frame.rows / 2);
    cv::Mat canvas = canvasMatrix(canvas_);
    frame.copyTo(canvas(cv::Rect(offset_, frame.size())));
    frameSize_ = frame.size();
    previous_ = std::move(pyramid);
    emit showDstPix(canvas_, frameSize_.width);
    return Outcome::Started;
}

PictureStitch::Outcome PictureStitch::endRun()
{
    const QString message = canvas_.isNull()
                                ? tr("The stitched picture would be too large for this camera resolution. "
                                     "Stitching has stopped.")
                                : tr("The stitched picture has reached its largest size. Stitching has stopped.");
    qWarning() << "Stitching ended: canvas" << canvas_.width() << "x" << canvas_.height() << "can't grow";
    running_ = false;
    reset();
    emit runEnded(message);
    return Outcome::Ended;
}

PictureStitch::Outcome PictureStitch::handleFrame(const VideoFrame &frame)
{
    if (!running_)
        return Outcome::Ignored;
    const cv::Mat bgr = videoFrameToMat(frame);
    const auto buffer = frame.buffer();
    const auto planes = buffer ? buffer->toI420() : nullptr;
    const int rows = bgr.rows - 2 * kCutRows;
    if (bgr.empty() || !planes || rows < kMinFrameSide || bgr.cols < kMinFrameSide) {
        if (!canvas_.isNull()) {
            reset();
            emit runRestarted();
        }
        return Outcome::Unusable;
    }
    const cv::Rect cut(0, kCutRows, bgr.cols, rows);
    const cv::Mat current = bgr(cut);
    // Matching reads the luma plane: the grey picture without a conversion.
    const cv::Mat luma(planes->height(), planes->width(), CV_8UC1, const_cast<uint8_t *>(planes->dataY()),
                       size_t(planes->strideY()));
    GreyPyramid pyramid = makeGreyPyramid(luma(cut));

    if (canvas_.isNull())
        return startCanvas(current, std::move(pyramid));
    if (current.size() != frameSize_) {
        reset();
        emit runRestarted();
        return startCanvas(current, std::move(pyramid));
    }

    cv::Point shift;
    if (!matchOffset(previous_, pyramid, shift) || shift == cv::Point(0, 0))
        return Outcome::Dropped;
    cv::Point position = offset_ + shift;
    const cv::Size canvasSize(canvas_.width(), canvas_.height());
    const Growth growth = planGrowth(canvasSize, frameSize_, position);
    if (!growth.fits)
        return Outcome::Dropped;
    if (growth.size != canvasSize) {
        if (!canvasSizeAllowed(growth.size))
            return endRun();
        QImage grown = grownCanvas(canvas_, growth.size, growth.shift);
        if (grown.isNull())
            return endRun();
        canvas_ = std::move(grown);
        position += growth.shift;
    }
    cv::Mat canvas = canvasMatrix(canvas_);
    blendFrame(current, canvas, position);
    offset_ = position;
    previous_ = std::move(pyramid);
    emit showDstPix(canvas_, frameSize_.width);
    return Outcome::Stitched;
}
