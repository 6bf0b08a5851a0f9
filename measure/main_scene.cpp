#include "main_scene.h"

#include "geometry.h"
#include "graphics_items.h"
#include "label_format.h"
#include "shapes.h"
#include "stored_graphics.h"

#include <QGraphicsRectItem>
#include <QGraphicsSceneMouseEvent>
#include <QPaintDevice>
#include <QPainter>
#include <QtDebug>

#include <cmath>

namespace {

constexpr int kFocusColumns = 17;
constexpr int kFocusRows = 15;
constexpr int kMaxOverlayLines = 1000;

bool isPlainLineType(int type)
{
    return type == DrawType::Line || type == DrawType::HLine || type == DrawType::VLine;
}

// Whether a shape's geometry depends on the length unit and calibration:
// its offset or ring distances are given in length units.
bool hasLengthDistances(const Base *shape)
{
    const GraphicsConnect *item = shape->item();
    if (!item)
        return false;
    if (isPlainLineType(shape->type())) {
        const auto *line = static_cast<const GraphicsLine *>(item);
        return line->lineDistance1() != 0.0 || line->lineDistance2() != 0.0;
    }
    if (shape->type() == DrawType::Ring) {
        const auto *ring = static_cast<const GraphicsRing *>(item);
        return ring->ringDistance1() != 0.0 || ring->ringDistance2() != 0.0;
    }
    return false;
}

bool isLengthUnit(int unit)
{
    return unit == UnitPixels || unit == UnitMillimetres || unit == UnitMicrometres || unit == UnitMils;
}

int truncated(double value)
{
    if (!std::isfinite(value))
        return 0;
    return static_cast<int>(qBound(-1e9, value, 1e9));
}

QColor overlayColor(const QVariant &value)
{
    if (value.userType() == QMetaType::QColor)
        return value.value<QColor>();
    return value.value<QColor>();
}

}  // namespace

MainScene::MainScene(QObject *parent) : QGraphicsScene(parent)
{
    registerDrawTypeMetaType();
    qRegisterMetaType<Base *>("Base*");
}

MainScene::~MainScene()
{
    // Shapes own graphics items; they go before the scene deletes what is left.
    delete current_;
    current_ = nullptr;
    qDeleteAll(shapes_);
    shapes_.clear();
}

// ---------------------------------------------------------------- drawing state

void MainScene::setDrawMode(int mode)
{
    // Choosing a tool, even the one in use, starts the edge search afresh.
    edgeIndex_ = 0;
    if (mode == mode_)
        return;
    mode_ = mode;
    clearSelection();
    abandonCurrent();
}

void MainScene::abandonCurrent()
{
    delete current_;
    current_ = nullptr;
    edgeIndex_ = 0;
    edgePending_ = false;
}

Base *MainScene::createShape()
{
    const int mode = mode_;
    const int unit = mode == DrawType::Ang || mode == DrawType::ThreeAng ? int(UnitDegrees)
        : mode == DrawType::LText                                        ? int(UnitNone)
                                                                         : unit_;
    const int orientation = mode == DrawType::HLine ? GraphicsPoint::Horizontal
        : mode == DrawType::VLine                   ? GraphicsPoint::Vertical
                                                    : GraphicsPoint::Free;
    Base *shape = nullptr;
    switch (mode) {
    case DrawType::Line: shape = new shape::Line(this, unit, orientation); break;
    case DrawType::HLine: shape = new shape::HLine(this, unit, orientation); break;
    case DrawType::VLine: shape = new shape::VLine(this, unit, orientation); break;
    case DrawType::AnyLine: shape = new shape::AnyLine(this, unit, orientation); break;
    case DrawType::Par: shape = new shape::Par(this, unit, orientation); break;
    case DrawType::Ver: shape = new shape::Ver(this, unit, orientation); break;
    case DrawType::Ang: shape = new shape::Ang(this, unit, orientation); break;
    case DrawType::ThreeAng: shape = new shape::ThreeAng(this, unit, orientation); break;
    case DrawType::Rect: shape = new shape::Rect(this, unit, orientation); break;
    case DrawType::Arc: shape = new shape::Arc(this, unit, orientation); break;
    case DrawType::Cir: shape = new shape::Cir(this, unit, orientation); break;
    case DrawType::Ring: shape = new shape::Ring(this, unit, orientation); break;
    case DrawType::Poly: shape = new shape::Poly(this, unit, orientation); break;
    case DrawType::LCir: shape = new shape::LCir(this, unit, orientation); break;
    case DrawType::TCir: shape = new shape::TCir(this, unit, orientation); break;
    case DrawType::LText: shape = new shape::LText(this, unit, orientation); break;
    case DrawType::LCali: shape = new shape::LCali(this, unit, orientation); break;
    case DrawType::CCali: shape = new shape::CCali(this, unit, orientation); break;
    case DrawType::MarkRect: shape = new shape::MarkRect(this, unit, orientation); break;
    case DrawType::MarkCir: shape = new shape::MarkCir(this, unit, orientation); break;
    default: return nullptr;
    }
    // Its first items take their sizes at the scene's scale.
    shape->setScale(scale_);
    const auto value = [this](int id) { return properties_.value(id); };
    if (shape->isMark()) {
        shape->setLineWidth(value(MarkWidth));
        shape->setPointColor(value(MarkColor));
        shape->setLineColor(value(MarkColor));
        shape->setLineStyle(value(MarkStyle));
    } else {
        shape->setLineWidth(value(LineWidth));
        shape->setPointColor(value(LineColor));
        shape->setLineColor(value(LineColor));
        shape->setLineStyle(value(LineStyle));
    }
    shape->setPointWidth(value(PointWidth));
    shape->setTextSize(value(TextSize));
    shape->setTextColor(value(TextColor));
    shape->setTextFont(value(TextFont));
    if (mode == DrawType::LText) {
        shape->setLLineColor(value(LLineColor));
        shape->setLLineWidth(value(LLineWidth));
        shape->setLLineStyle(value(LLineStyle));
        shape->setLTextColor(value(LTextColor));
        shape->setLTextSize(value(LTextWidth));
        shape->setLTextFont(value(LTextFont));
    }
    return shape;
}

void MainScene::passDistances(Base *shape)
{
    if (shape->type() == DrawType::Ring) {
        shape->setRingDistance1(properties_.value(RingDistance1));
        shape->setRingDistance2(properties_.value(RingDistance2));
    } else if (isPlainLineType(shape->type())) {
        shape->setLineDistance1(properties_.value(LineDistance1));
        shape->setLineDistance2(properties_.value(LineDistance2));
    }
}

void MainScene::requestEdge(const QPointF &at)
{
    edgePending_ = true;
    edgeSerial_ = currentSerial_;
    edgeMode_ = mode_;
    emit mousePressPoint(truncated(at.x()), truncated(at.y()), static_cast<DrawType>(mode_));
}

void MainScene::finishCurrent()
{
    Base *shape = current_;
    current_ = nullptr;
    edgeIndex_ = 0;
    edgePending_ = false;
    if (!shape)
        return;
    if (shape->type() == DrawType::LCali || shape->type() == DrawType::CCali) {
        const double length = shape->type() == DrawType::LCali ? shape->itemLength() : shape->circleDiameter();
        delete shape;
        // A line of no length or three collinear points give no calibration.
        if (std::isfinite(length) && length > 0.0)
            emit caliOver(length);
        return;
    }
    emit itemInsert(shape);
    shapes_.append(shape);
    shape->finish();
    if (!shape->isMark()) {
        int marks = 0;
        for (Base *s : qAsConst(shapes_))
            if (s->isMark())
                ++marks;
        shape->setNumber(numberOffset_ + shapes_.size() - marks);
    }
    emit itemUpdate(shape);
    if (shape->type() == DrawType::LText)
        emit ltextEdit();
}

void MainScene::reportSelection()
{
    if (mode_ != DrawType::Hand)
        return;
    QList<int> selection;
    for (int i = 0; i < shapes_.size(); ++i)
        if (shapes_[i]->isSelected())
            selection << i;
    selection << shapes_.size();
    emit itemSelected(selection);
}

// ---------------------------------------------------------------- mouse

void MainScene::mousePressEvent(QGraphicsSceneMouseEvent *event)
{
    if (event->button() == Qt::RightButton) {
        if (current_)
            abandonCurrent();
        else if (mode_ != DrawType::AutoFocusPoint && mode_ != DrawType::Track && mode_ != DrawType::Hand)
            emit clearDrawType();
        return;
    }
    if (event->button() != Qt::LeftButton)
        return;
    const QPointF pos = event->scenePos();
    if (regionMode_) {
        pressPoint_ = pos;
        const double w = width();
        const double h = height();
        const double column = w > 0 ? pos.x() / w * kFocusColumns : 0.0;
        const double row = h > 0 ? pos.y() / h * kFocusRows : 0.0;
        focusCol_ = qBound(0, truncated(column), kFocusColumns - 1);
        focusRow_ = qBound(0, truncated(row), kFocusRows - 1);
        updateFocusRect(false);
        emit blinkArea(focusCol_, focusRow_);
        return;
    }
    if (mode_ == DrawType::Hand) {
        QGraphicsScene::mousePressEvent(event);
        reportSelection();
        return;
    }
    if (!current_) {
        current_ = createShape();
        if (!current_)
            return;
        currentSerial_ = ++shapeSerial_;
        edgeIndex_ = 0;
    }
    if (!current_->isType(mode_)) {
        abandonCurrent();
        return;
    }
    Base *shape = current_;
    if (edgeSnap_ && isPlainLineType(mode_)) {
        if (shape->isComplete()) {
            requestEdge(shape->lastPointPos());
            return;
        }
        requestEdge(pos);
    } else {
        if (!geometry::lastPointDistinct(shape->pointPositions()))
            return;
        shape->setScale(scale_);
        passDistances(shape);
        if (shape->isComplete()) {
            finishCurrent();
            return;
        }
        shape->addPoint(pos, calibration_);
    }
    shape->setScale(scale_);
    passDistances(shape);
}

void MainScene::mouseMoveEvent(QGraphicsSceneMouseEvent *event)
{
    if (mode_ == DrawType::Hand) {
        QGraphicsScene::mouseMoveEvent(event);
        return;
    }
    if (!current_)
        return;
    const QPointF pos = event->scenePos();
    if (current_->type() == DrawType::AnyLine)
        current_->addPoint(pos, calibration_);
    current_->moveLastPoint(pos);
}

void MainScene::mouseReleaseEvent(QGraphicsSceneMouseEvent *event)
{
    if (current_ && current_->type() == DrawType::AnyLine)
        finishCurrent();
    QGraphicsScene::mouseReleaseEvent(event);
    reportSelection();
    for (Base *shape : qAsConst(shapes_))
        if (!shape->isItemAndLabelSelected())
            shape->storeLabelRest(true);
}

void MainScene::mouseDoubleClickEvent(QGraphicsSceneMouseEvent *event)
{
    if (current_ && current_->type() == DrawType::Poly) {
        // The press of the double click has added the last corner; the
        // point that follows the cursor goes. Fewer than three corners make
        // no polygon. The second press then goes to the items only (the base
        // handler does not come back here), so it starts no new polygon.
        if (current_->pointCount() < 4) {
            abandonCurrent();
            return;
        }
        current_->removeLastPoint();
        finishCurrent();
    }
    QGraphicsScene::mouseDoubleClickEvent(event);
    if (mode_ != DrawType::Hand)
        return;
    const QList<QGraphicsItem *> selected = selectedItems();
    if (selected.isEmpty())
        return;
    QGraphicsItem *first = selected.first();
    if (first->type() == GraphicsConnect::Type) {
        auto *item = static_cast<GraphicsConnect *>(first);
        const int type = item->owner() ? item->owner()->type() : 0;
        if (type != DrawType::LText && type != DrawType::MarkRect && type != DrawType::MarkCir)
            emit changeProperty(item);
    } else if (first->type() == GraphicsCross::Type) {
        emit crossStatusChanged(static_cast<GraphicsCross *>(first));
    }
}

void MainScene::recvEdgepos(const QPointF &pos)
{
    // Only the answer to the request of the shape and mode still in hand.
    if (!current_ || !edgePending_ || edgeSerial_ != currentSerial_ || edgeMode_ != mode_)
        return;
    if (!std::isfinite(pos.x()) || !std::isfinite(pos.y()))
        return;
    edgePending_ = false;
    Base *shape = current_;
    if (shape->isComplete()) {
        // The request of a complete line was made for its last point; that
        // point takes the answer even when choosing the tool again has reset
        // the edge index meanwhile.
        shape->setPointPos(pos, shape->pointCount() - 1);
        edgeIndex_ = 0;
        finishCurrent();
        return;
    }
    shape->addPoint(pos, calibration_);
    shape->setPointPos(pos, edgeIndex_);
    shape->setScale(scale_);
    passDistances(shape);
    ++edgeIndex_;
}

void MainScene::slotRecvOffset(int x, int y)
{
    scrollX_ = x;
    scrollY_ = y;
}

// ---------------------------------------------------------------- shapes

void MainScene::removeShape(int index)
{
    if (index < 0 || index >= shapes_.size())
        return;
    Base *shape = shapes_.takeAt(index);
    if (!shape->isMark())
        ++numberOffset_;
    delete shape;
}

void MainScene::clearShapes()
{
    qDeleteAll(shapes_);
    shapes_.clear();
    numberOffset_ = 0;
}

void MainScene::setLastText(const QString &text)
{
    if (!shapes_.isEmpty())
        shapes_.last()->setText(text);
}

void MainScene::setDrawProperty(DrawProperty id, const QVariant &value)
{
    properties_.insert(id, value);
    for (Base *shape : qAsConst(shapes_)) {
        const bool mark = shape->isMark();
        switch (id) {
        case PointWidth: shape->setPointWidth(value); break;
        case PointColor: shape->setPointColor(value); break;
        case LineWidth: if (!mark) shape->setLineWidth(value); break;
        case LineStyle: if (!mark) shape->setLineStyle(value); break;
        case LineColor: if (!mark) shape->setLineColor(value); break;
        case TextSize: shape->setTextSize(value); break;
        case TextFont: shape->setTextFont(value); break;
        case TextColor: shape->setTextColor(value); break;
        case MarkWidth: if (mark) shape->setLineWidth(value); break;
        case MarkStyle: if (mark) shape->setLineStyle(value); break;
        case MarkColor: if (mark) shape->setLineColor(value); break;
        case LTextWidth: shape->setLTextSize(value); break;
        case LTextFont: shape->setLTextFont(value); break;
        case LTextColor: shape->setLTextColor(value); break;
        case LLineWidth: shape->setLLineWidth(value); break;
        case LLineStyle: shape->setLLineStyle(value); break;
        case LLineColor: shape->setLLineColor(value); break;
        case RingDistance1: shape->setRingDistance1(value); break;
        case RingDistance2: shape->setRingDistance2(value); break;
        case LineDistance1: shape->setLineDistance1(value); break;
        case LineDistance2: shape->setLineDistance2(value); break;
        default: break;
        }
    }
    // The overlay's lines take the style of what they are: the crosshair's
    // values (re-sent with every zoom change) leave grid lines alone, and
    // the other way round.
    const bool crossStyle = id == CrossWidth || id == CrossStyle || id == CrossColor;
    const bool gridStyle = id == GridlinesWidth || id == GridlinesStyle || id == GridlinesColor;
    if ((crossStyle && !gridMode_) || (gridStyle && gridMode_)) {
        styleOverlayLines();
    } else if (id == FloatNum) {
        // The number of decimals is read from the settings store.
        DecimalPlaces::invalidate();
        refreshLabels();
    }
}

void MainScene::refreshLabels()
{
    const LabelFormatBatch batch;
    for (Base *shape : qAsConst(shapes_)) {
        GraphicsText *label = shape->label();
        if (label && label->setEntries(label->entries()))
            emit itemUpdate(shape);
    }
}

void MainScene::setCalibration(double umPerPixel)
{
    if (!std::isfinite(umPerPixel) || umPerPixel <= 0.0) {
        qWarning() << "Calibration refused:" << umPerPixel;
        return;
    }
    const LabelFormatBatch batch;
    for (Base *shape : qAsConst(shapes_)) {
        shape->setCalibration(umPerPixel);
        if (hasLengthDistances(shape))
            shape->item()->remeasure();
        emit itemUpdate(shape);
    }
    calibration_ = umPerPixel;
}

void MainScene::setUnit(int unit)
{
    if (!isLengthUnit(unit)) {
        qWarning() << "Unit refused:" << unit;
        return;
    }
    unit_ = unit;
    const LabelFormatBatch batch;
    for (Base *shape : qAsConst(shapes_)) {
        shape->setUnit(unit);
        if (hasLengthDistances(shape))
            shape->item()->remeasure();
        emit itemUpdate(shape);
    }
}

void MainScene::setViewScale(double newWidth, double pictureWidth)
{
    if (!std::isfinite(newWidth) || newWidth <= 0.0)
        return;
    if (std::isfinite(pictureWidth) && pictureWidth > 0.0)
        scale_ = pictureWidth / newWidth;
    const double oldWidth = width();
    const double ratio = std::isfinite(oldWidth) && oldWidth > 0.0 ? newWidth / oldWidth : 1.0;
    ratio_ *= ratio;
    pressPoint_ *= ratio;
}

void MainScene::rescaleShape(Base *shape)
{
    // A new picture width at the same view width changes the scale alone: the
    // labels (and the offset and ring distances, which are given in length
    // units) must be measured again, as no handle moves to trigger it.
    const bool scaleChanged = shape->label() && shape->label()->scale() != scale_;
    shape->setScale(scale_);
    const double ratio = ratio_;
    if (ratio == 1.0) {
        if (scaleChanged && shape->item()) {
            shape->item()->remeasure();
            emit itemUpdate(shape);
        }
        return;
    }
    if (shape->label())
        shape->label()->scaleBy(ratio);
    const QList<GraphicsPoint *> handles = shape->points();
    const bool constrained = shape->type() == DrawType::HLine || shape->type() == DrawType::VLine;
    for (int i = 0; i < handles.size(); ++i) {
        GraphicsPoint *handle = handles[i];
        const int orientation = handle->orientation();
        if (constrained)
            handle->setOrientation(GraphicsPoint::Free);
        QPen pen = handle->pen();
        pen.setWidth(qMax(1, static_cast<int>(pen.width() * ratio)));
        handle->setPen(pen);
        const QPointF pos = handle->pos() * ratio;
        handle->setPoint(pos);
        if (i == handles.size() - 1)
            shape->moveLastPoint(pos);
        else
            handle->moveTo(pos);
        handle->setOrientation(orientation);
    }
    if (scaleChanged && shape->item()) {
        shape->item()->remeasure();
        emit itemUpdate(shape);
    }
}

void MainScene::applyScale()
{
    const LabelFormatBatch batch;
    for (Base *shape : qAsConst(shapes_))
        rescaleShape(shape);
    if (current_)
        rescaleShape(current_);
    ratio_ = 1.0;
    // Each line keeps the size it has (its dialog may have changed it) at
    // the new scale.
    for (GraphicsCross *line : qAsConst(lines_))
        line->setSize(line->size());
    layoutLines();
    updateFocusRect(false);
}

// ---------------------------------------------------------------- overlay lines

QPen MainScene::overlayPen(int widthId, int styleId, int colorId) const
{
    const Qt::PenStyle style = penStyleFromValue(properties_.value(styleId), Qt::NoPen);
    return QPen(QBrush(overlayColor(properties_.value(colorId)), Qt::SolidPattern),
                overlayPenWidth(overlaySize(widthId)), style, Qt::SquareCap, Qt::BevelJoin);
}

int MainScene::overlaySize(int widthId) const
{
    bool ok = false;
    const double size = properties_.value(widthId).toDouble(&ok);
    return ok && std::isfinite(size) ? qBound(0, static_cast<int>(size), 1000) : 0;
}

int MainScene::overlayPenWidth(int size) const
{
    // The crosshair's size counts like a shape's line size, two picture
    // pixels a step; a grid line is as wide in scene units as its size.
    if (gridMode_)
        return size;
    return static_cast<int>(qBound(0L, std::lround(2.0 * size / scale_), 1000L));
}

void MainScene::styleOverlayLines()
{
    const QPen pen = gridMode_ ? overlayPen(GridlinesWidth, GridlinesStyle, GridlinesColor)
                               : overlayPen(CrossWidth, CrossStyle, CrossColor);
    const int size = overlaySize(gridMode_ ? GridlinesWidth : CrossWidth);
    for (GraphicsCross *line : qAsConst(lines_)) {
        line->setPen(pen);
        line->setSize(size);
    }
}

void MainScene::rebuildLines(int direction, int count)
{
    for (int i = lines_.size() - 1; i >= 0; --i) {
        if (lines_[i]->direction() == direction)
            delete lines_.takeAt(i);
    }
    const QPen pen = gridMode_ ? overlayPen(GridlinesWidth, GridlinesStyle, GridlinesColor)
                               : overlayPen(CrossWidth, CrossStyle, CrossColor);
    const int size = overlaySize(gridMode_ ? GridlinesWidth : CrossWidth);
    for (int i = 1; i <= count; ++i) {
        auto *line = new GraphicsCross(direction, this);
        line->setPen(pen);
        line->setSize(size);
        addItem(line);
        lines_.append(line);
        line->setRelativePosition(double(i) / double(count + 1));
        line->layoutIn(sceneRect());
        line->setVisible(linesVisible_);
    }
}

void MainScene::setLinesVisible(bool visible)
{
    linesVisible_ = visible;
    for (GraphicsCross *line : qAsConst(lines_))
        line->setVisible(visible);
    layoutLines();
}

void MainScene::layoutLines()
{
    const QRectF bounds = sceneRect();
    for (GraphicsCross *line : qAsConst(lines_))
        line->layoutIn(bounds);
}

void MainScene::setHorizontalLineCount(int count)
{
    if (!linesVisible_ || count < 0)
        return;
    count = qMin(count, kMaxOverlayLines);
    hLineCount_ = count;
    rebuildLines(GraphicsCross::Horizontal, count);
}

void MainScene::setVerticalLineCount(int count)
{
    if (!linesVisible_ || count < 0)
        return;
    count = qMin(count, kMaxOverlayLines);
    vLineCount_ = count;
    rebuildLines(GraphicsCross::Vertical, count);
}

void MainScene::removeCrossLine(GraphicsCross *line)
{
    const int index = lines_.indexOf(line);
    if (index < 0)
        return;
    if (line->direction() == GraphicsCross::Horizontal)
        hLineCount_ = qMax(0, hLineCount_ - 1);
    else
        vLineCount_ = qMax(0, vLineCount_ - 1);
    lines_.removeAt(index);
    delete line;
}

// ---------------------------------------------------------------- focus region

void MainScene::setFocusRegionFlags(bool regionMode, bool grid5x5, bool showRect, bool keep)
{
    regionMode_ = regionMode;
    grid5x5_ = grid5x5;
    showRect_ = showRect;
    updateFocusRect(keep);
}

void MainScene::setFocusCell(int column, int row)
{
    focusCol_ = qBound(0, column, kFocusColumns - 1);
    focusRow_ = qBound(0, row, kFocusRows - 1);
    pressPoint_ = QPointF(std::floor(width() * focusCol_ / kFocusColumns), std::floor(height() * focusRow_ / kFocusRows));
    updateFocusRect(false);
}

void MainScene::updateFocusRect(bool keep)
{
    if (!showRect_) {
        delete focusRect_;
        focusRect_ = nullptr;
        return;
    }
    if (!focusRect_) {
        focusRect_ = new QGraphicsRectItem;
        focusRect_->setPen(QPen(Qt::gray));
        addItem(focusRect_);
    }
    const double w = width();
    const double h = height();
    const double cellW = grid5x5_ ? w / 5 + 0.5 : w / kFocusColumns + 0.5;
    const double cellH = grid5x5_ ? h / 5 + 0.5 : h / kFocusRows + 0.5;
    const bool pressed = pressPoint_.x() >= 0 && pressPoint_.y() >= 0 && !keep;
    double x;
    double y;
    if (grid5x5_ && !pressed) {
        x = cellW / 2;
        y = cellH / 2;
    } else {
        // Centred on the chosen cell of the 17 by 15 grid.
        x = (focusCol_ + 0.5) * w / kFocusColumns - cellW / 2;
        y = (focusRow_ + 0.5) * h / kFocusRows - cellH / 2;
    }
    if (x + cellW > w)
        x = w - cellW;
    if (y + cellH > h)
        y = h - cellH;
    x = qMax(0.0, x);
    y = qMax(0.0, y);
    focusRect_->setRect(x, y, cellW, cellH);
}

// ---------------------------------------------------------------- pictures

void MainScene::renderShapes(QPaintDevice *device)
{
    if (!device)
        return;
    QPainter painter(device);
    if (!painter.isActive())
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    const double s = scale_;
    for (Base *shape : qAsConst(shapes_)) {
        GraphicsConnect *item = shape->item();
        if (!item)
            continue;
        const int type = shape->type();
        const QPen ownPen = item->pen();
        QPen pen = ownPen;
        pen.setWidth(qMax(0, static_cast<int>(ownPen.width() * s)));
        const QPointF offset = item->pos();
        const auto mapPoint = [&](const QPointF &p) { return (p + offset) * s; };
        const auto mapLine = [&](const QLineF &l) { return QLineF(mapPoint(l.p1()), mapPoint(l.p2())); };
        QVector<QPointF> pts;
        for (GraphicsPoint *handle : shape->points())
            pts.append(handle->pos() * s);
        if (pts.size() < stored_graphics::minimumPoints(type))
            continue;
        const auto drawCircle = [&painter](const geometry::Circle &c) {
            if (c.isValid())
                painter.drawEllipse(c.centre, c.radius, c.radius);
        };
        painter.setPen(pen);
        switch (type) {
        case DrawType::Line:
        case DrawType::HLine:
        case DrawType::VLine:
        case DrawType::Par: {
            auto *line = static_cast<GraphicsLine *>(item);
            painter.drawLine(mapLine(line->mainLine()));
            painter.setPen(ownPen);
            if (!line->secondLine().isNull())
                painter.drawLine(mapLine(line->secondLine()));
            if (!line->thirdLine().isNull())
                painter.drawLine(mapLine(line->thirdLine()));
            break;
        }
        case DrawType::Ver: {
            auto *line = static_cast<GraphicsLine *>(item);
            painter.drawLine(mapLine(line->mainLine()));
            if (line->secondLine().isNull())
                break;
            painter.setPen(ownPen);
            painter.drawLine(mapLine(line->secondLine()));
            QPen dashed = ownPen;
            dashed.setStyle(Qt::DashLine);
            painter.setPen(dashed);
            painter.drawLine(mapLine(geometry::pictureVerDash(line->mainLine(), line->secondLine())));
            break;
        }
        case DrawType::Ang:
        case DrawType::ThreeAng: {
            auto *line = static_cast<GraphicsLine *>(item);
            painter.drawLine(mapLine(line->mainLine()));
            painter.drawLine(mapLine(line->secondLine()));
            if (type == DrawType::Ang) {
                if (const auto ext = geometry::pictureAngleExtensions(line->mainLine(), line->secondLine())) {
                    QPen dashed = pen;
                    dashed.setStyle(Qt::DashLine);
                    painter.setPen(dashed);
                    painter.drawLine(mapLine(ext->first));
                    painter.drawLine(mapLine(ext->second));
                }
            }
            break;
        }
        case DrawType::Rect: {
            const QRectF rect = static_cast<GraphicsRect *>(item)->rect();
            painter.drawRect(QRectF(mapPoint(rect.topLeft()), mapPoint(rect.bottomRight())));
            break;
        }
        case DrawType::Arc: {
            const geometry::Circle c = geometry::circleThroughPoints(pts[0], pts[1], pts[2]);
            if (!c.isValid())
                break;
            const geometry::ArcSpan span = geometry::arcSpan(c.centre, pts[0], pts[1], pts[2]);
            painter.drawPath(geometry::arcPath(c, pts[span.startIndex], span));
            break;
        }
        case DrawType::Cir:
            drawCircle(geometry::circleThroughPoints(pts[0], pts[1], pts[2]));
            break;
        case DrawType::Ring: {
            const geometry::Circle c = geometry::circleThroughPoints(pts[0], pts[1], pts[2]);
            if (!c.isValid())
                break;
            drawCircle(c);
            auto *ring = static_cast<GraphicsRing *>(item);
            GraphicsText *label = shape->label();
            const double d1 = label ? label->toPixels(ring->ringDistance1()) * s : 0.0;
            const double d2 = label ? label->toPixels(ring->ringDistance2()) * s : 0.0;
            // Inner circles only where the screen shows them: 0 < r < R.
            for (const double d : {d1, d2}) {
                const double r = c.radius - d;
                if (r > 0.0 && r < c.radius)
                    drawCircle(geometry::Circle{c.centre, r});
            }
            break;
        }
        case DrawType::Poly:
            for (int i = 0; i < pts.size(); ++i)
                painter.drawLine(pts[i], pts[(i + 1) % pts.size()]);
            break;
        case DrawType::LCir: {
            const geometry::Circle c = geometry::circleThroughPoints(pts[0], pts[1], pts[2]);
            if (!c.isValid())
                break;
            drawCircle(c);
            painter.drawLine(c.centre, pts[3]);
            break;
        }
        case DrawType::TCir: {
            const geometry::Circle c1 = geometry::circleThroughPoints(pts[0], pts[1], pts[2]);
            const geometry::Circle c2 = geometry::circleThroughPoints(pts[3], pts[4], pts[5]);
            drawCircle(c1);
            drawCircle(c2);
            if (c1.isValid() && c2.isValid())
                painter.drawLine(c1.centre, c2.centre);
            break;
        }
        case DrawType::LText: {
            painter.drawLine(pts[0], pts[1]);
            const geometry::ArrowWings wings = geometry::arrowWings(pts[0], pts[1]);
            painter.drawLine(wings.wing1, pts[1]);
            painter.drawLine(wings.wing2, pts[1]);
            break;
        }
        default:
            break;
        }
        // Every label is painted, also one the user has hidden on screen.
        GraphicsText *label = shape->label();
        if (!label)
            continue;
        QFont font = label->font();
        if (font.pixelSize() > 0)
            font.setPixelSize(qMax(1, qRound(font.pixelSize() * s)));
        else if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * s);
        painter.setFont(font);
        painter.setPen(label->defaultTextColor());
        const QRectF box = label->sceneBoundingRect().translated(4, 4);
        painter.drawText(QRectF(box.topLeft() * s, box.bottomRight() * s), Qt::TextWrapAnywhere, label->text());
    }
    painter.end();
}

void MainScene::loadShapes(const QByteArray &json)
{
    int skipped = 0;
    const QVector<StoredShape> stored = parseStoredGraphics(json, &skipped);
    if (skipped > 0)
        qWarning() << "Stored graphics: skipped" << skipped << "invalid elements";
    const int savedMode = mode_;
    for (const StoredShape &element : stored) {
        mode_ = element.type;
        Base *shape = createShape();
        if (!shape)
            continue;
        shape->setScale(scale_);
        const int count = element.points.size();
        // A shape that never completes (a freehand line) takes every further
        // point: add those in one go rather than re-measuring per point.
        const int stepped = Base::completionCount(element.type) > 0 ? count : qMin(count, 2);
        for (int i = 0; i < stepped; ++i) {
            const QPointF &p = element.points[i];
            if (i == 1) {
                shape->moveLastPoint(p);
            } else {
                shape->addPoint(p, calibration_);
                if (i == 0) {
                    emit itemInsert(shape);
                    shapes_.append(shape);
                }
            }
            if (shape->isComplete())
                shape->moveLastPoint(p);
        }
        if (stepped < count)
            shape->addPoints(element.points.mid(stepped), calibration_);
        passDistances(shape);
        if (element.type == DrawType::LText)
            shape->setText(element.text);
        emit itemUpdate(shape);
    }
    mode_ = savedMode;
}
