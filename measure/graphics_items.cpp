#include "graphics_items.h"

#include "draw_type.h"
#include "main_scene.h"
#include "shapes.h"

#include <QCursor>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QGraphicsSceneMouseEvent>
#include <QHash>
#include <QPainter>
#include <QPaintEngine>
#include <QPainterPathStroker>
#include <QStyleOptionGraphicsItem>
#include <QTextCursor>
#include <QTimerEvent>

#include <cmath>

QColor complementColor(const QColor &color)
{
    const QColor rgb = color.toRgb();
    return QColor(255 - rgb.red(), 255 - rgb.green(), 255 - rgb.blue(), 255);
}

QPen inversePen(const QPen &pen)
{
    QPen inverse(pen);
    inverse.setColor(complementColor(pen.color()));
    return inverse;
}

Qt::PenStyle penStyleFromValue(const QVariant &value, Qt::PenStyle fallback)
{
    bool ok = false;
    const int style = value.toInt(&ok);
    if (!ok || style < Qt::NoPen || style > Qt::DashDotDotLine)
        return fallback;
    return static_cast<Qt::PenStyle>(style);
}

QPainterPath strokeShape(const QPainterPath &path, const QPen &pen)
{
    if (path.isEmpty() || pen == QPen(Qt::NoPen))
        return path;
    QPainterPathStroker stroker;
    stroker.setCapStyle(pen.capStyle());
    stroker.setJoinStyle(pen.joinStyle());
    stroker.setMiterLimit(pen.miterLimit());
    stroker.setWidth(pen.widthF() <= 1.0 ? 4.0 : pen.widthF() + 3.0);
    return stroker.createStroke(path);
}

// ---------------------------------------------------------------- GraphicsPoint

GraphicsPoint::GraphicsPoint(const QPointF &pos, MainScene *scene, int orientation, QGraphicsItem *parent)
    : QGraphicsPathItem(parent), orientation_(orientation), point_(pos), scene_(scene)
{
    setCircularOutline();
    setPos(pos);
    setFlags(ItemIsMovable | ItemIsSelectable | ItemSendsGeometryChanges);
    setCursor(Qt::SizeAllCursor);
}

void GraphicsPoint::moveTo(const QPointF &pos)
{
    point_ = pos;
    setPos(pos);
}

void GraphicsPoint::setCircularOutline()
{
    QPainterPath path;
    path.addEllipse(QRectF(-7, -7, 15, 15));
    setPath(path);
}

void GraphicsPoint::setBarOutline(const QLineF &bar)
{
    QPainterPath path;
    path.moveTo(bar.p1());
    path.lineTo(bar.p2());
    setPath(path);
}

QVariant GraphicsPoint::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemPositionChange) {
        QPointF pos = value.toPointF();
        if (orientation_ == Vertical)
            pos.setX(point_.x());
        else if (orientation_ == Horizontal)
            pos.setY(point_.y());
        return pos;
    }
    if (change == ItemPositionHasChanged && item_)
        item_->handleMoved(this);
    return QGraphicsPathItem::itemChange(change, value);
}

// ---------------------------------------------------------------- GraphicsText

GraphicsText::GraphicsText(double calibration, int unit, QGraphicsItem *parent) : QGraphicsTextItem(parent)
{
    format_.unit = unit;
    if (std::isfinite(calibration) && calibration > 0.0)
        format_.calibration = calibration;
    setFlags(ItemIsMovable | ItemIsSelectable | ItemSendsGeometryChanges);
    shownColor_ = QGraphicsTextItem::defaultTextColor();
    takeLinesFont();
    if (unit == UnitNone)
        setPlainText(QStringLiteral("..."));
}

GraphicsText::~GraphicsText()
{
    setLinesImage(QImage());
}

QString GraphicsText::formatEntries(const QList<LabelEntry> &entries)
{
    const int decimals = DecimalPlaces::current();
    QString text;
    for (const LabelEntry &entry : entries)
        text += formatLabelLine(entry, format_, decimals);
    return text;
}

bool GraphicsText::setEntries(const QList<LabelEntry> &entries)
{
    // A text label holds the user's own words: never overwrite them.
    if (format_.unit == UnitNone) {
        entries_ = entries;
        return false;
    }
    const QString text = formatEntries(entries);
    entries_ = entries;
    if (text == lines_)
        return false;
    showLines(text);
    return true;
}

namespace {
// The margin a text document leaves around its text: labels of both kinds
// sit the same way next to their shapes.
constexpr qreal kLabelMargin = 4.0;

// The bytes all labels' line images hold, and how many they may: a label's
// image takes 4 bytes a pixel of its box, about 56 kB for four lines at 13
// pixels; labels beyond draw their glyphs.
qint64 gLinesImageBytes = 0;
constexpr qint64 kLinesImageBudget = 64 * 1024 * 1024;

struct LinesFont {
    QRawFont raw;
    bool greyGlyphs = false;
};

// Whether glyphs of `font` are drawn in grey levels alone. Glyphs drawn with
// colour fringes (for LCD screens) cannot be drawn into a transparent image
// first: the image would show them grey.
bool drawsGreyGlyphs(const QRawFont &font)
{
    const QVector<quint32> glyphs = font.glyphIndexesForString(QStringLiteral("W"));
    if (glyphs.size() != 1 || glyphs[0] == 0)
        return false;
    QGlyphRun run;
    run.setRawFont(font);
    run.setGlyphIndexes(glyphs);
    run.setPositions({QPointF(0.3, 0.0)});
    const int size = qBound(8, int(std::ceil(font.pixelSize())) * 2 + 8, 512);
    QImage probe(size, size, QImage::Format_RGB32);
    probe.fill(Qt::black);
    {
        QPainter painter(&probe);
        painter.setPen(Qt::white);
        painter.drawGlyphRun(QPointF(2.0, size * 0.6), run);
    }
    for (int y = 0; y < probe.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(probe.constScanLine(y));
        for (int x = 0; x < probe.width(); ++x)
            if (qRed(line[x]) != qGreen(line[x]) || qGreen(line[x]) != qBlue(line[x]))
                return false;
    }
    return true;
}

// One raw font per label font: each raw font keeps its own glyph cache, so
// labels of one font share it rather than rendering every glyph anew.
LinesFont sharedLinesFont(const QFont &font)
{
    static QHash<QString, LinesFont> fonts;
    const QString key = font.key();
    auto found = fonts.constFind(key);
    if (found != fonts.constEnd())
        return *found;
    LinesFont shared;
    shared.raw = QRawFont::fromFont(font);
    shared.greyGlyphs = shared.raw.isValid() && drawsGreyGlyphs(shared.raw);
    // Label fonts change only with the settings: a handful in a session.
    if (fonts.size() > 64)
        fonts.clear();
    fonts.insert(key, shared);
    return shared;
}
}  // namespace

void GraphicsText::showLines(const QString &text)
{
    lines_ = text;
    // As a text document lays it out: every line as high as the font, a
    // trailing line break starting one more (empty) line. The glyphs are
    // looked up once here, so that painting draws them without laying the
    // text out again; a line with a character the font lacks is drawn as
    // text, which finds another font for it.
    QVector<quint32> glyphs;
    QVector<QPointF> positions;
    glyphs.reserve(text.size());
    positions.reserve(text.size());
    bool asRun = linesRawFont_.isValid();
    qreal width = 0.0;
    int count = 0;
    for (const QStringRef &line : text.splitRef(QLatin1Char('\n'))) {
        const qreal baseline = kLabelMargin + linesAscent_ + count * linesHeight_;
        ++count;
        if (asRun) {
            const QVector<quint32> lineGlyphs = linesRawFont_.glyphIndexesForString(line.toString());
            if (lineGlyphs.size() == line.size() && !lineGlyphs.contains(0u)) {
                const QVector<QPointF> advances = linesRawFont_.advancesForGlyphIndexes(lineGlyphs);
                qreal x = kLabelMargin;
                for (int i = 0; i < lineGlyphs.size(); ++i) {
                    glyphs.append(lineGlyphs[i]);
                    positions.append(QPointF(x, baseline));
                    x += advances[i].x();
                }
                width = qMax(width, x - kLabelMargin);
                continue;
            }
            asRun = false;
        }
        width = qMax(width, QFontMetricsF(linesFont_).horizontalAdvance(line.toString()));
    }
    linesRun_ = QGlyphRun();
    linesPainted_ = false;
    if (asRun) {
        linesRun_.setRawFont(linesRawFont_);
        linesRun_.setGlyphIndexes(glyphs);
        linesRun_.setPositions(positions);
    }
    const QRectF rect(0, 0, std::ceil(width) + 2 * kLabelMargin, count * linesHeight_ + 2 * kLabelMargin);
    if (rect != linesRect_) {
        prepareGeometryChange();
        linesRect_ = rect;
    }
    update();
}

QString GraphicsText::text() const
{
    return paintsOwnLines() ? lines_ : toPlainText();
}

void GraphicsText::setPlainText(const QString &text)
{
    if (paintsOwnLines())
        showLines(text);
    else
        QGraphicsTextItem::setPlainText(text);
}

void GraphicsText::setFont(const QFont &font)
{
    QGraphicsTextItem::setFont(font);
    takeLinesFont();
    if (paintsOwnLines())
        showLines(lines_);
}

void GraphicsText::takeLinesFont()
{
    // Label lines need no shaping (no ligatures or joined scripts), and
    // shaping is most of the cost of measuring them.
    linesFont_ = QGraphicsTextItem::font();
    linesFont_.setStyleStrategy(QFont::StyleStrategy(linesFont_.styleStrategy() | QFont::PreferNoShaping));
    const QFontMetricsF metrics(linesFont_);
    linesAscent_ = metrics.ascent();
    linesHeight_ = metrics.height();
    const LinesFont shared = sharedLinesFont(linesFont_);
    linesRawFont_ = shared.raw;
    linesGreyGlyphs_ = shared.greyGlyphs;
}

QRectF GraphicsText::boundingRect() const
{
    return paintsOwnLines() ? linesRect_ : QGraphicsTextItem::boundingRect();
}

QPainterPath GraphicsText::shape() const
{
    if (!paintsOwnLines())
        return QGraphicsTextItem::shape();
    QPainterPath path;
    path.addRect(linesRect_);
    return path;
}

bool GraphicsText::contains(const QPointF &point) const
{
    return paintsOwnLines() ? linesRect_.contains(point) : QGraphicsTextItem::contains(point);
}

void GraphicsText::paint(QPainter *painter, const QStyleOptionGraphicsItem *option, QWidget *widget)
{
    if (!paintsOwnLines()) {
        QGraphicsTextItem::paint(painter, option, widget);
        return;
    }
    const bool fromImage = drawLinesImage(painter);
    const bool selected = option->state & QStyle::State_Selected;
    if (fromImage && !selected)
        return;
    painter->save();
    painter->setPen(shownColor_);
    if (!fromImage && !linesRun_.isEmpty()) {
        painter->drawGlyphRun(QPointF(), linesRun_);
    } else if (!fromImage) {
        painter->setFont(linesFont_);
        QPointF baseline(kLabelMargin, kLabelMargin + linesAscent_);
        for (const QStringRef &line : lines_.splitRef(QLatin1Char('\n'))) {
            painter->drawText(baseline, line.toString());
            baseline.ry() += linesHeight_;
        }
    }
    if (selected) {
        painter->setPen(QPen(shownColor_, 0, Qt::DashLine));
        painter->setBrush(Qt::NoBrush);
        painter->drawRect(linesRect_.adjusted(0.5, 0.5, -0.5, -0.5));
    }
    painter->restore();
}

bool GraphicsText::drawLinesImage(QPainter *painter)
{
    // A live view repaints every label with every picture, and blending a
    // label's pixels in one image costs a fraction of blending its glyphs one
    // by one. The image blends to the same pixels only on a raster device at
    // a whole-pixel scale, opaque and drawn over.
    if (linesRun_.isEmpty() || !linesGreyGlyphs_) {
        setLinesImage(QImage());
        linesImageSize_ = QSize();
        return false;
    }
    const QTransform device = painter->deviceTransform();
    QPaintEngine *engine = painter->paintEngine();
    if (device.type() > QTransform::TxTranslate || !engine || engine->type() != QPaintEngine::Raster
        || painter->opacity() != 1.0 || painter->compositionMode() != QPainter::CompositionMode_SourceOver)
        return false;
    const QPointF fraction(device.dx() - std::floor(device.dx()), device.dy() - std::floor(device.dy()));
    const QRgb color = shownColor_.rgba();
    const QPainter::RenderHints hints = painter->renderHints();
    if (!linesPainted_ || fraction != linesImageFraction_ || color != linesImageColor_ || hints != linesImageHints_) {
        // Lines painted once in a state (a changed text or unit, a drag step)
        // are drawn as glyphs: drawing the image first would cost more. The
        // image is drawn when the same lines are painted again.
        linesPainted_ = true;
        linesImageSize_ = QSize();
        linesImageFraction_ = fraction;
        linesImageColor_ = color;
        linesImageHints_ = hints;
        return false;
    }
    if (linesImageSize_.isEmpty()) {
        // Room for antialiasing around the glyphs' own boxes.
        const QRect area = (linesRect_ | linesRun_.boundingRect()).toAlignedRect().adjusted(-2, -2, 3, 3);
        // Kept while large enough: its paint engine costs more to set up than
        // the lines to draw.
        if (linesImage_.width() < area.width() || linesImage_.height() < area.height()
            || linesImage_.width() > area.width() + 32 || linesImage_.height() > area.height() + 16) {
            const qint64 bytes = qint64(area.width()) * area.height() * 4;
            setLinesImage(QImage());
            if (gLinesImageBytes + bytes > kLinesImageBudget)
                return false;
            setLinesImage(QImage(area.size(), QImage::Format_ARGB32_Premultiplied));
            if (linesImage_.isNull())
                return false;
        }
        linesImage_.fill(Qt::transparent);
        QPainter image(&linesImage_);
        image.setRenderHints(hints);
        image.setPen(shownColor_);
        image.drawGlyphRun(fraction - QPointF(area.topLeft()), linesRun_);
        image.end();
        linesImageSize_ = area.size();
        linesImageCorner_ = area.topLeft();
    }
    // At the whole device pixel the lines' own origin falls in.
    const QTransform world = painter->worldTransform();
    painter->resetTransform();
    const QTransform base = painter->deviceTransform();
    painter->drawImage(QPoint(qRound(std::floor(device.dx()) - base.dx()) + linesImageCorner_.x(),
                              qRound(std::floor(device.dy()) - base.dy()) + linesImageCorner_.y()),
                       linesImage_, QRect(QPoint(0, 0), linesImageSize_));
    painter->setWorldTransform(world);
    return true;
}

void GraphicsText::setLinesImage(const QImage &image)
{
    gLinesImageBytes += image.sizeInBytes() - linesImage_.sizeInBytes();
    linesImage_ = image;
}

bool GraphicsText::setEntry(const LabelEntry &entry)
{
    return setEntries({entry});
}

double GraphicsText::toPixels(double length) const
{
    return lengthToPixels(length, format_.unit, format_.calibration, format_.scale);
}

bool GraphicsText::setCalibration(double calibration)
{
    if (!std::isfinite(calibration) || calibration <= 0.0)
        return false;
    format_.calibration = calibration;
    return setEntries(entries_);
}

void GraphicsText::setScale(double scale)
{
    if (std::isfinite(scale) && scale > 0.0)
        format_.scale = scale;
}

bool GraphicsText::setUnit(int unit)
{
    format_.unit = unit;
    return setEntries(entries_);
}

void GraphicsText::setDefaultTextColor(const QColor &color)
{
    shownColor_ = color;
    QGraphicsTextItem::setDefaultTextColor(color);
}

void GraphicsText::setTextColor(const QColor &color)
{
    textPen_.setColor(color);
    setDefaultTextColor(highlighted_ ? complementColor(color) : color);
}

void GraphicsText::setHighlighted(bool on)
{
    if (on == highlighted_)
        return;
    highlighted_ = on;
    setDefaultTextColor(on ? complementColor(textPen_.color()) : textPen_.color());
    prepareGeometryChange();
    update();
}

void GraphicsText::placeAt(qreal x, qreal y)
{
    if (!isSelected())
        setPos(QPointF(x, y) + labelOffset_);
}

void GraphicsText::scaleBy(double factor)
{
    if (!std::isfinite(factor) || factor <= 0.0)
        return;
    const QPointF origin = dragOrigin_ * factor;
    const QPointF newPos = pos() * factor;
    labelOffset_ *= factor;
    dragOrigin_ = newPos;  // the rescale itself is no user drag of the label
    setPos(newPos);
    dragOrigin_ = (flags() & ItemSendsGeometryChanges) ? newPos : origin;
}

QVariant GraphicsText::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemPositionChange) {
        const QPointF newPos = value.toPointF();
        if (dragOrigin_ != QPointF() && isSelected())
            labelOffset_ += newPos - dragOrigin_;
        dragOrigin_ = newPos;
    }
    return QGraphicsTextItem::itemChange(change, value);
}

void GraphicsText::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (textInteractionFlags() == Qt::NoTextInteraction && format_.unit == UnitNone) {
        setTextInteractionFlags(Qt::TextEditorInteraction);
        setFocus(Qt::OtherFocusReason);
    }
    QGraphicsTextItem::mouseDoubleClickEvent(event);
}

void GraphicsText::focusOutEvent(QFocusEvent *event)
{
    setTextInteractionFlags(Qt::NoTextInteraction);
    if (toPlainText().trimmed().isEmpty())
        setPlainText(QStringLiteral("..."));
    QTextCursor cursor = textCursor();
    cursor.clearSelection();
    setTextCursor(cursor);
    QGraphicsTextItem::focusOutEvent(event);
}

// ---------------------------------------------------------------- GraphicsConnect

GraphicsConnect::GraphicsConnect(Base *owner, GraphicsText *label, MainScene *scene, QGraphicsItem *parent)
    : QGraphicsItem(parent), label_(label), scene_(scene), owner_(owner)
{
    if (owner)
        handles_ = owner->points();
    setFlags(ItemIsMovable | ItemIsSelectable | ItemSendsGeometryChanges);
    setCursor(Qt::SizeAllCursor);
    for (GraphicsPoint *handle : qAsConst(handles_))
        handle->setItem(this);
}

GraphicsConnect::~GraphicsConnect()
{
    for (GraphicsPoint *handle : qAsConst(handles_))
        if (handle->item() == this)
            handle->setItem(nullptr);
}

int GraphicsConnect::ownerType() const
{
    return owner_ ? owner_->type() : 0;
}

qreal GraphicsConnect::margin() const
{
    const qreal widest = qMax(linePen_.widthF(), textLinePen_.widthF());
    return qMax<qreal>(10.0, widest / 2.0 + 2.0);
}

QRectF GraphicsConnect::boundingRect() const
{
    return outline().controlPointRect().adjusted(-margin(), -margin(), margin(), margin());
}

QPainterPath GraphicsConnect::shape() const
{
    return strokeShape(outline(), linePen_);
}

void GraphicsConnect::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setPen(currentPen(linePen_));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(outline());
    refresh(painter);
}

void GraphicsConnect::addHandle(GraphicsPoint *handle)
{
    handles_.append(handle);
    handle->setItem(this);
}

void GraphicsConnect::removeLastHandle()
{
    if (!handles_.isEmpty())
        handles_.takeLast()->setItem(nullptr);
}

QVector<QPointF> GraphicsConnect::handlePoints() const
{
    QVector<QPointF> points;
    points.reserve(handles_.size());
    for (GraphicsPoint *handle : handles_)
        points.append(mapFromScene(handle->pos()));
    return points;
}

void GraphicsConnect::handleMoved(GraphicsPoint *)
{
    if (!syncing_)
        updateGeometry();
}

void GraphicsConnect::setLabelVisible(bool visible)
{
    if (label_)
        label_->setVisible(visible);
}

bool GraphicsConnect::isLabelVisible() const
{
    return label_ && label_->isVisible();
}

void GraphicsConnect::setMovable(bool movable)
{
    setFlag(ItemIsMovable, movable);
    for (GraphicsPoint *handle : qAsConst(handles_))
        handle->setFlag(ItemIsMovable, movable);
    if (label_)
        label_->setFlag(ItemIsMovable, movable);
}

bool GraphicsConnect::isMovable() const
{
    return flags() & ItemIsMovable;
}

void GraphicsConnect::changePens()
{
    prepareGeometryChange();
    update();
}

void GraphicsConnect::setColor(const QColor &color)
{
    linePen_.setColor(color);
    changePens();
}

void GraphicsConnect::setLineStyle(Qt::PenStyle style)
{
    linePen_.setStyle(style);
    changePens();
}

void GraphicsConnect::setPenWidth(int width)
{
    linePen_.setWidth(qMax(0, width));
    changePens();
}

void GraphicsConnect::setPointColor(const QColor &color)
{
    pointPen_.setColor(color);
    changePens();
}

void GraphicsConnect::setPointWidth(int width)
{
    pointPen_.setWidth(qMax(0, width));
    changePens();
}

void GraphicsConnect::setTextLineColor(const QColor &color)
{
    textLinePen_.setColor(color);
    changePens();
}

void GraphicsConnect::setTextLineStyle(Qt::PenStyle style)
{
    textLinePen_.setStyle(style);
    changePens();
}

void GraphicsConnect::setTextLineWidth(int width)
{
    textLinePen_.setWidth(qMax(0, width));
    changePens();
}

void GraphicsConnect::setHandlesVisible(bool visible)
{
    const QColor color = complementColor(pointPen_.color());
    for (GraphicsPoint *handle : qAsConst(handles_)) {
        handle->setVisible(visible);
        QPen pen = handle->pen();
        pen.setColor(color);
        handle->setPen(pen);
    }
}

void GraphicsConnect::setHighlighted(bool on)
{
    if (on == highlighted_)
        return;
    highlighted_ = on;
    setHandlesVisible(on);
    update();
}

void GraphicsConnect::remeasure()
{
    measure();
    prepareGeometryChange();
    update();
}

void GraphicsConnect::setHandleColor(GraphicsPoint *handle, const QColor &color)
{
    if (!handle)
        return;
    QPen pen = handle->pen();
    pen.setColor(color);
    handle->setPen(pen);
}

void GraphicsConnect::setHandleWidth(GraphicsPoint *handle, int width)
{
    if (!handle)
        return;
    QPen pen = handle->pen();
    pen.setWidth(qMax(0, width));
    handle->setPen(pen);
}

int GraphicsConnect::handleWidth(GraphicsPoint *handle) const
{
    return handle ? handle->pen().width() : 0;
}

QVariant GraphicsConnect::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemPositionChange && scene_) {
        // Keep every handle inside the scene: the whole shape stops where the
        // first handle would leave it.
        const QRectF bounds = scene_->sceneRect();
        QPointF delta = value.toPointF() - pos();
        for (GraphicsPoint *handle : qAsConst(handles_)) {
            const QPointF q = handle->pos() + delta;
            if (bounds.contains(q))
                continue;
            if (q.x() < 0)
                delta.rx() -= q.x();
            if (q.y() < 0)
                delta.ry() -= q.y();
            if (q.x() > bounds.width())
                delta.rx() -= q.x() - bounds.width();
            if (q.y() > bounds.height())
                delta.ry() -= q.y() - bounds.height();
        }
        return pos() + delta;
    }
    if (change == ItemPositionHasChanged) {
        // The handles are scene items of their own: carry them along.
        const QPointF delta = pos() - lastPos_;
        lastPos_ = pos();
        syncing_ = true;
        for (GraphicsPoint *handle : qAsConst(handles_))
            handle->moveTo(handle->pos() + delta);
        syncing_ = false;
        updateGeometry();
    }
    return QGraphicsItem::itemChange(change, value);
}

void GraphicsConnect::placeLabel(const QPointF &anchor)
{
    if (label_) {
        const QPointF at = mapToScene(anchor);
        label_->placeAt(at.x(), at.y());
    }
}

void GraphicsConnect::emitItemUpdate()
{
    if (scene_ && owner_)
        emit scene_->itemUpdate(owner_);
}

// ---------------------------------------------------------------- line family

QRectF GraphicsLine::boundingRect() const
{
    QRectF box = QRectF(main_.p1(), main_.p2()).normalized();
    if (!second_.isNull())
        box |= QRectF(second_.p1(), second_.p2()).normalized();
    if (!third_.isNull())
        box |= QRectF(third_.p1(), third_.p2()).normalized();
    const QPointF crossing = crossingPoint();
    if (crossing != QPointF())
        box |= QRectF(crossing, QSizeF(0, 0));
    if (!foot_.isNull())
        box |= QRectF(foot_, QSizeF(0, 0));
    const qreal m = margin();
    return box.adjusted(-m, -m, m, m);
}

QPainterPath GraphicsLine::outline() const
{
    QPainterPath path;
    path.moveTo(main_.p1());
    path.lineTo(main_.p2());
    if (!second_.isNull()) {
        path.moveTo(second_.p1());
        path.lineTo(second_.p2());
        if (!third_.isNull()) {
            path.moveTo(third_.p1());
            path.lineTo(third_.p2());
        }
    }
    return path;
}

void GraphicsLine::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setPen(currentPen(pen()));
    painter->setBrush(Qt::NoBrush);
    painter->drawLine(main_);
    if (!second_.isNull())
        painter->drawLine(second_);
    if (!third_.isNull())
        painter->drawLine(third_);
    refresh(painter);
}

void GraphicsLine::updateGeometry()
{
    const QVector<QPointF> points = handlePoints();
    if (points.size() < 2)
        return;
    const QLineF line(points[0], points[1]);
    const bool changed = line != main_;
    if (changed) {
        prepareGeometryChange();
        main_ = line;
    }
    const bool measured = measure().toBool();
    if (measured || changed) {
        update();
        emitItemUpdate();
    }
    if (label())
        placeLabel(main_.center());
}

QVariant GraphicsLine::measure()
{
    const int type = ownerType();
    const bool plainLine = type == DrawType::Line || type == DrawType::HLine || type == DrawType::VLine;
    if (plainLine && !label())
        return false;
    geometry::GeometryInput input;
    if (label()) {
        input.lineDistance1 = label()->toPixels(lineDistance1_);
        input.lineDistance2 = label()->toPixels(lineDistance2_);
    }
    const geometry::ShapeGeometry g = geometry::computeShapeGeometry(type, handlePoints(), input);
    if (!g.enough)
        return false;
    if (g.second != second_ || g.third != third_ || g.foot != foot_) {
        prepareGeometryChange();
        second_ = g.second;
        third_ = g.third;
        foot_ = type == DrawType::Par || type == DrawType::Ver ? g.foot : QPointF();
    }
    if (!label())
        return true;
    return label()->setEntries(g.entries);
}

bool GraphicsLine::refresh(QPainter *)
{
    return true;
}

void GraphicsLine::setLineDistance1(double distance)
{
    lineDistance1_ = std::isfinite(distance) ? distance : 0.0;
    measure();
    prepareGeometryChange();
    update();
}

void GraphicsLine::setLineDistance2(double distance)
{
    lineDistance2_ = std::isfinite(distance) ? distance : 0.0;
    measure();
    prepareGeometryChange();
    update();
}

namespace {
QPen dashedPen(const QPen &pen, bool highlighted)
{
    QPen dashed(pen);
    dashed.setStyle(Qt::DashLine);
    if (highlighted)
        dashed.setColor(complementColor(pen.color()));
    return dashed;
}
}  // namespace

bool GraphicsPar::refresh(QPainter *)
{
    return foot_ != QPointF();
}

bool GraphicsVer::refresh(QPainter *painter)
{
    if (second_.isNull())
        return false;
    if (const auto extension = geometry::perpendicularExtension(main_, second_.p2())) {
        painter->setPen(dashedPen(pen(), isHighlighted()));
        painter->drawLine(*extension);
    }
    return true;
}

QPointF GraphicsAng::crossingPoint() const
{
    QPointF crossing;
    if (second_.isNull() || main_.intersects(second_, &crossing) == QLineF::NoIntersection)
        return QPointF();
    return std::isfinite(crossing.x()) && std::isfinite(crossing.y()) ? crossing : QPointF();
}

bool GraphicsAng::refresh(QPainter *painter)
{
    if (second_.isNull())
        return false;
    if (const auto extensions = geometry::angleExtensions(main_, second_)) {
        painter->setPen(dashedPen(pen(), isHighlighted()));
        painter->drawLine(extensions->first);
        painter->drawLine(extensions->second);
    }
    return true;
}

QPointF GraphicsThreeAng::crossingPoint() const
{
    QPointF crossing;
    if (second_.isNull() || main_.intersects(second_, &crossing) == QLineF::NoIntersection)
        return QPointF();
    return std::isfinite(crossing.x()) && std::isfinite(crossing.y()) ? crossing : QPointF();
}

bool GraphicsThreeAng::refresh(QPainter *)
{
    return !second_.isNull();
}

void GraphicsLCali::updateGeometry()
{
    const QVector<QPointF> points = handlePoints();
    if (points.size() < 2)
        return;
    const QPointF a = points[0];
    const QPointF b = points[1];
    measure();
    if (a == b || (a == firstEnd_ && b == secondEnd_))
        return;
    const auto bars = geometry::calibrationBars(a, b);
    if (!bars)
        return;
    prepareGeometryChange();
    main_ = bars->first;
    second_ = bars->second;
    firstEnd_ = a;
    secondEnd_ = b;
    update();
}

QVariant GraphicsLCali::measure()
{
    return QVariant();
}

bool GraphicsLCali::refresh(QPainter *painter)
{
    painter->drawLine(QLineF(firstEnd_, secondEnd_));
    return true;
}

double GraphicsLCali::lineLength() const
{
    return QLineF(firstEnd_, secondEnd_).length();
}

// ---------------------------------------------------------------- rectangle

QRectF GraphicsRect::boundingRect() const
{
    const qreal m = margin();
    return rect_.normalized().adjusted(-m, -m, m, m);
}

QPainterPath GraphicsRect::outline() const
{
    QPainterPath path;
    if (!rect_.isNull())
        path.addRect(rect_);
    return path;
}

void GraphicsRect::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setPen(currentPen(pen()));
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(rect_);
    refresh(painter);
}

void GraphicsRect::updateGeometry()
{
    const QVector<QPointF> points = handlePoints();
    if (points.size() < 2)
        return;
    const QRectF rect(points[0], points[1]);
    const bool changed = !qFuzzyCompare(rect.x(), rect_.x()) || !qFuzzyCompare(rect.y(), rect_.y())
        || !qFuzzyCompare(rect.width(), rect_.width()) || !qFuzzyCompare(rect.height(), rect_.height());
    if (changed) {
        prepareGeometryChange();
        rect_ = rect;
    }
    const bool measured = measure().toBool();
    if (changed || measured) {
        update();
        emitItemUpdate();
    }
    if (label())
        placeLabel(rect_.center());
}

QVariant GraphicsRect::measure()
{
    const QVector<QPointF> points = handlePoints();
    if (points.size() < 2)
        return false;
    if (!label())
        return true;
    const geometry::ShapeGeometry g = geometry::computeShapeGeometry(DrawType::Rect, points);
    return g.enough && label()->setEntries(g.entries);
}

bool GraphicsRect::refresh(QPainter *)
{
    return true;
}

// ---------------------------------------------------------------- path family

QRectF GraphicsPathBased::boundingRect() const
{
    const qreal m = margin();
    return path_.controlPointRect().adjusted(-m, -m, m, m);
}

QPainterPath GraphicsPathBased::shape() const
{
    return strokeShape(path_, pen());
}

void GraphicsPathBased::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    if (path_.isEmpty())
        return;
    const QPen basePen = ownerType() == DrawType::LText ? textLinePen() : pen();
    painter->setPen(currentPen(basePen));
    painter->setBrush(Qt::NoBrush);
    painter->drawPath(path_);
    refresh(painter);
}

void GraphicsPathBased::updateGeometry()
{
    const QList<GraphicsPoint *> all = handles();
    if (points_.size() != all.size())
        points_.clear();
    bool changed = false;
    for (int i = 0; i < all.size(); ++i) {
        const QPointF p = mapFromScene(all[i]->pos());
        if (i >= points_.size()) {
            points_.append(p);
            changed = true;
        } else if (points_[i] != p) {
            points_[i] = p;
            changed = true;
        }
    }
    if (changed && measure().toBool()) {
        update();
        emitItemUpdate();
    }
    if (label() && !points_.isEmpty())
        placeLabel(labelAnchor());
}

QVariant GraphicsPathBased::measure()
{
    const int type = ownerType();
    const geometry::ShapeGeometry g = geometry::computeShapeGeometry(type, points_, geometryInput());
    if (!g.enough)
        return false;
    prepareGeometryChange();
    path_ = g.path;
    circles_ = g.circles;
    radius_ = g.radius;
    if (!label() || type == DrawType::LText)
        return true;
    return label()->setEntries(g.entries);
}

bool GraphicsPathBased::refresh(QPainter *)
{
    if (label() && !points_.isEmpty())
        placeLabel(labelAnchor());
    return true;
}

QPointF GraphicsPathBased::labelAnchor() const
{
    return points_.isEmpty() ? QPointF() : points_.first();
}

QPointF GraphicsArc::labelAnchor() const
{
    return points_.size() > 1 ? points_[1] : GraphicsPathBased::labelAnchor();
}

QPointF GraphicsLText::labelAnchor() const
{
    return points_.size() > 1 ? (points_[0] + points_[1]) / 2.0 : GraphicsPathBased::labelAnchor();
}

geometry::GeometryInput GraphicsRing::geometryInput() const
{
    geometry::GeometryInput input;
    if (label()) {
        input.ringDistance1 = label()->toPixels(ringDistance1_);
        input.ringDistance2 = label()->toPixels(ringDistance2_);
    }
    return input;
}

void GraphicsRing::setRingDistance1(double distance)
{
    ringDistance1_ = std::isfinite(distance) ? distance : 0.0;
    measure();
    prepareGeometryChange();
    update();
}

void GraphicsRing::setRingDistance2(double distance)
{
    ringDistance2_ = std::isfinite(distance) ? distance : 0.0;
    measure();
    prepareGeometryChange();
    update();
}

// ---------------------------------------------------------------- GraphicsCross

GraphicsCross::GraphicsCross(int direction, MainScene *scene, QGraphicsItem *parent)
    : QGraphicsLineItem(parent), direction_(direction), scene_(scene)
{
    setFlags(ItemIsMovable | ItemIsSelectable | ItemSendsGeometryChanges);
    setCursor(Qt::SizeAllCursor);
}

void GraphicsCross::setColor(const QColor &color)
{
    QPen p = pen();
    p.setColor(color);
    setPen(p);
}

void GraphicsCross::setPenWidth(int width)
{
    QPen p = pen();
    p.setWidth(qMax(0, width));
    setPen(p);
}

void GraphicsCross::setSize(int size)
{
    size_ = qMax(0, size);
    setPenWidth(scene_ ? scene_->overlayPenWidth(size_) : size_);
}

void GraphicsCross::remove()
{
    if (scene_)
        scene_->removeCrossLine(this);
}

void GraphicsCross::setRelativePosition(double fraction)
{
    relative_ = std::isfinite(fraction) ? qBound(0.0, fraction, 1.0) : 0.0;
}

void GraphicsCross::layoutIn(const QRectF &sceneRect)
{
    laying_ = true;
    if (direction_ == Horizontal) {
        setLine(0, 0, sceneRect.width(), 0);
        setPos(0, relative_ * sceneRect.height());
    } else {
        setLine(0, 0, 0, sceneRect.height());
        setPos(relative_ * sceneRect.width(), 0);
    }
    laying_ = false;
}

void GraphicsCross::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setPen(pen());
    painter->drawLine(line());
}

QVariant GraphicsCross::itemChange(GraphicsItemChange change, const QVariant &value)
{
    if (change == ItemPositionChange && scene_) {
        if (!laying_)
            emit scene_->crossStatusChanged(nullptr);
        QPointF pos = value.toPointF();
        if (direction_ == Horizontal)
            pos.setX(0);
        else
            pos.setY(0);
        const QRectF bounds = scene_->sceneRect();
        if (!bounds.contains(pos)) {
            if (pos.x() < 0)
                pos.setX(0);
            if (pos.y() < 0)
                pos.setY(0);
            if (pos.x() >= bounds.width())
                pos.setX(qMax<qreal>(0, bounds.width() - 1));
            if (pos.y() >= bounds.height())
                pos.setY(qMax<qreal>(0, bounds.height() - 1));
        }
        return pos;
    }
    if (change == ItemPositionHasChanged && scene_ && !laying_) {
        const QRectF bounds = scene_->sceneRect();
        if (direction_ == Horizontal && bounds.height() > 0)
            relative_ = pos().y() / bounds.height();
        else if (direction_ == Vertical && bounds.width() > 0)
            relative_ = pos().x() / bounds.width();
    }
    return QGraphicsLineItem::itemChange(change, value);
}

// ---------------------------------------------------------------- flashitem

flashitem::flashitem(QGraphicsItem *parent) : QObject(nullptr), QGraphicsItem(parent) {}

QRectF flashitem::boundingRect() const
{
    return QRectF(-20, -20, 20, 20);
}

void flashitem::paint(QPainter *painter, const QStyleOptionGraphicsItem *, QWidget *)
{
    painter->setPen(Qt::NoPen);
    painter->setBrush(lit_ ? QBrush(Qt::red, Qt::SolidPattern) : QBrush(Qt::transparent));
    painter->drawEllipse(QRectF(-20, -20, 20, 20));
}

void flashitem::timerEvent(QTimerEvent *event)
{
    lit_ = !lit_;
    timerId_ = event->timerId();
    update();
}
