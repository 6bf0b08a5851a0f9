#include "shapes.h"

#include "geometry.h"
#include "graphics_items.h"
#include "main_scene.h"

#include <QColor>
#include <QFont>
#include <QPen>

#include <cmath>

namespace {

constexpr int kMaxPenWidth = 36;
constexpr int kMaxPixelSize = 120;

int toInt(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return 0;
    return static_cast<int>(qBound(-1e6, number, 1e6));
}

int clampedWidth(const QVariant &value)
{
    return qBound(1, toInt(value), kMaxPenWidth);
}

double toReal(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    return ok && std::isfinite(number) ? number : 0.0;
}

// A new shape always shows its outline: no pen or an invalid style give a solid line.
Qt::PenStyle creationStyle(const QVariant &value)
{
    const Qt::PenStyle style = penStyleFromValue(value, Qt::SolidLine);
    return style == Qt::NoPen ? Qt::SolidLine : style;
}

QColor colorFrom(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QColor(Qt::black);
    if (value.userType() == QMetaType::QColor)
        return value.value<QColor>();
    return value.value<QColor>();
}

QString fontFamilyFrom(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return QStringLiteral("Arial");
    if (value.userType() == QMetaType::QFont)
        return value.value<QFont>().family();
    if (value.canConvert<QFont>())
        return value.value<QFont>().family();
    return QFont().family();
}

}  // namespace

Base::Base(MainScene *scene, int drawType, int unit, int orientation)
    : scene_(scene), unit_(unit), orientation_(orientation), drawType_(drawType)
{
}

Base::~Base()
{
    // The outline item first: it refers to the handles and the label.
    delete item_;
    item_ = nullptr;
    delete label_;
    label_ = nullptr;
    qDeleteAll(points_);
    points_.clear();
}

int Base::completionCount(int drawType)
{
    switch (drawType) {
    case DrawType::Line:
    case DrawType::HLine:
    case DrawType::VLine:
    case DrawType::Rect:
    case DrawType::LText:
    case DrawType::LCali:
    case DrawType::MarkRect:
        return 2;
    case DrawType::Par:
    case DrawType::Ver:
    case DrawType::ThreeAng:
    case DrawType::Arc:
    case DrawType::Cir:
    case DrawType::Ring:
    case DrawType::CCali:
    case DrawType::MarkCir:
        return 3;
    case DrawType::Ang:
    case DrawType::LCir:
        return 4;
    case DrawType::TCir:
        return 6;
    case DrawType::Poly:
        return 10;
    default:
        return 0;  // AnyLine: never complete
    }
}

QString Base::nameFor(int drawType)
{
    switch (drawType) {
    case DrawType::Line: return QStringLiteral("Line");
    case DrawType::HLine: return QStringLiteral("HLine");
    case DrawType::VLine: return QStringLiteral("VLine");
    case DrawType::AnyLine: return QStringLiteral("AnyLine");
    case DrawType::Par: return QStringLiteral("Par");
    case DrawType::Ver: return QStringLiteral("Ver");
    case DrawType::Ang: return QStringLiteral("Ang");
    case DrawType::ThreeAng: return QStringLiteral("ThreeAng");
    case DrawType::Rect: return QStringLiteral("Rect");
    case DrawType::Arc: return QStringLiteral("Arc");
    case DrawType::Cir: return QStringLiteral("Cir");
    case DrawType::Ring: return QStringLiteral("Ring");
    case DrawType::Poly: return QStringLiteral("Poly");
    case DrawType::LCir: return QStringLiteral("LCir");
    case DrawType::TCir: return QStringLiteral("TCir");
    case DrawType::LText: return QStringLiteral("LText");
    case DrawType::LCali: return QStringLiteral("LCali");
    case DrawType::CCali: return QStringLiteral("CCali");
    case DrawType::MarkRect: return QStringLiteral("MarkRect");
    case DrawType::MarkCir: return QStringLiteral("MarkCir");
    default: return QString();
    }
}

bool Base::isMark() const
{
    return drawType_ == DrawType::MarkRect || drawType_ == DrawType::MarkCir;
}

bool Base::isPlainLine() const
{
    return drawType_ == DrawType::Line || drawType_ == DrawType::HLine || drawType_ == DrawType::VLine;
}

bool Base::isComplete() const
{
    const int needed = completionCount(drawType_);
    return needed > 0 && points_.size() >= needed;
}

bool Base::canFinish() const
{
    return isComplete() && geometry::lastPointDistinct(pointPositions());
}

QVector<QPointF> Base::pointPositions() const
{
    QVector<QPointF> positions;
    positions.reserve(points_.size());
    for (GraphicsPoint *point : points_)
        positions.append(point->pos());
    return positions;
}

QPointF Base::lastPointPos() const
{
    return points_.isEmpty() ? QPointF() : points_.last()->pos();
}

GraphicsConnect *Base::createItem()
{
    switch (drawType_) {
    case DrawType::Line: return new GraphicsLine(this, label_, scene_);
    case DrawType::HLine: return new GraphicsHLine(this, label_, scene_);
    case DrawType::VLine: return new GraphicsVLine(this, label_, scene_);
    case DrawType::AnyLine: return new GraphicsAnyLine(this, label_, scene_);
    case DrawType::Par: return new GraphicsPar(this, label_, scene_);
    case DrawType::Ver: return new GraphicsVer(this, label_, scene_);
    case DrawType::Ang: return new GraphicsAng(this, label_, scene_);
    case DrawType::ThreeAng: return new GraphicsThreeAng(this, label_, scene_);
    case DrawType::Rect:
    case DrawType::MarkRect: return new GraphicsRect(this, label_, scene_);
    case DrawType::Arc: return new GraphicsArc(this, label_, scene_);
    case DrawType::Cir:
    case DrawType::MarkCir: return new GraphicsCir(this, label_, scene_);
    case DrawType::Ring: return new GraphicsRing(this, label_, scene_);
    case DrawType::Poly: return new GraphicsPoly(this, label_, scene_);
    case DrawType::LCir: return new GraphicsLCir(this, label_, scene_);
    case DrawType::TCir: return new GraphicsTCir(this, label_, scene_);
    case DrawType::LText: return new GraphicsLText(this, label_, scene_);
    case DrawType::LCali: return new GraphicsLCali(this, label_, scene_);
    case DrawType::CCali: return new GraphicsCCali(this, label_, scene_);
    default: return nullptr;
    }
}

int Base::sceneSize(int slot) const
{
    // A drawing size counts two picture pixels a step, whatever the zoom:
    // in scene units that is 2 / scale (picture pixels per scene unit).
    return static_cast<int>(std::lround(qBound(-1e6, 2.0 * toReal(properties_[slot]) / scale_, 1e6)));
}

int Base::scenePenWidth(int slot) const
{
    return qBound(1, sceneSize(slot), kMaxPenWidth);
}

int Base::scenePixelSize(int slot) const
{
    return qBound(1, sceneSize(slot), kMaxPixelSize);
}

int Base::lineSize() const
{
    return toInt(properties_[SlotLineWidth]);
}

GraphicsPoint *Base::createHandle(const QPointF &pos)
{
    auto *handle = new GraphicsPoint(pos, scene_, orientation_);
    if (scene_)
        scene_->addItem(handle);
    points_.append(handle);
    QPen pen = handle->pen();
    pen.setWidth(clampedWidth(properties_[SlotPointWidth]));
    pen.setColor(colorFrom(properties_[SlotPointColor]));
    handle->setPen(pen);
    handle->setZValue(100);
    return handle;
}

void Base::addPoint(const QPointF &pos, double calibration)
{
    if (isComplete())
        return;
    if (points_.size() >= 2) {
        GraphicsPoint *handle = createHandle(pos);
        if (item_)
            item_->addHandle(handle);
    } else {
        // The fixed first point and the point that follows the cursor.
        createHandle(pos);
        createHandle(pos);
        if (!isMark()) {
            label_ = new GraphicsText(calibration, unit_);
            label_->setScale(scale_);
            if (scene_)
                scene_->addItem(label_);
        }
        item_ = createItem();
        if (!item_)
            return;
        item_->setMark(isMark());
        if (scene_)
            scene_->addItem(item_);
        applyStyle();
    }
    item_->updateGeometry();
}

void Base::addPoints(const QVector<QPointF> &positions, double calibration)
{
    for (const QPointF &pos : positions) {
        if (isComplete())
            break;
        if (points_.size() < 2 || !item_) {
            addPoint(pos, calibration);
            continue;
        }
        item_->addHandle(createHandle(pos));
    }
    if (item_)
        item_->updateGeometry();
}

void Base::applyStyle()
{
    item_->setLineStyle(creationStyle(properties_[SlotLineStyle]));
    item_->setPenWidth(scenePenWidth(SlotLineWidth));
    item_->setColor(colorFrom(properties_[SlotLineColor]));
    item_->setPointWidth(clampedWidth(properties_[SlotPointWidth]));
    item_->setPointColor(colorFrom(properties_[SlotPointColor]));
    item_->setTextLineColor(colorFrom(properties_[SlotLLineColor]));
    item_->setTextLineWidth(scenePenWidth(SlotLLineWidth));
    item_->setTextLineStyle(creationStyle(properties_[SlotLLineStyle]));
    if (!label_)
        return;
    QFont font = label_->font();
    if (drawType_ == DrawType::LText) {
        font.setPixelSize(scenePixelSize(SlotLTextSize));
        font.setFamily(fontFamilyFrom(properties_[SlotLTextFont]));
        label_->setFont(font);
        label_->setTextColor(colorFrom(properties_[SlotLTextColor]));
        labelFont_ = font;
    } else {
        font.setPixelSize(scenePixelSize(SlotTextSize));
        font.setFamily(fontFamilyFrom(properties_[SlotTextFont]));
        label_->setFont(font);
        label_->setTextColor(colorFrom(properties_[SlotTextColor]));
    }
    // Out of view until the item places it.
    label_->placeAt(0, -500);
}

void Base::applyHandlePen()
{
    if (!item_)
        return;
    const int width = clampedWidth(properties_[SlotPointWidth]);
    const QColor color = colorFrom(properties_[SlotPointColor]);
    item_->setPointWidth(width);
    item_->setPointColor(color);
    for (GraphicsPoint *handle : qAsConst(points_)) {
        item_->setHandleWidth(handle, width);
        item_->setHandleColor(handle, color);
    }
}

void Base::moveLastPoint(const QPointF &pos)
{
    if (points_.isEmpty())
        return;
    points_.last()->setPos(pos);
    if (isPlainLine() && points_.size() >= 2) {
        const std::optional<QLineF> bar = finished_ ? std::nullopt : geometry::endBar(points_[0]->pos(), points_[1]->pos());
        for (int i = 0; i < 2; ++i) {
            if (bar)
                points_[i]->setBarOutline(*bar);
            else
                points_[i]->setCircularOutline();
        }
    }
    if (item_)
        item_->updateGeometry();
}

void Base::removeLastPoint()
{
    if (points_.isEmpty())
        return;
    if (item_)
        item_->removeLastHandle();
    delete points_.takeLast();
    if (item_)
        item_->updateGeometry();
}

void Base::setUnit(int unit)
{
    if (unit_ == UnitNone || unit_ == UnitDegrees)
        return;
    unit_ = unit;
    if (label_)
        label_->setUnit(unit);
}

void Base::setPointPos(const QPointF &pos, int index)
{
    if (index < 0 || index >= points_.size())
        return;
    points_[index]->setPos(pos);
    if (item_)
        item_->updateGeometry();
}

QString Base::labelText() const
{
    return label_ ? label_->text() : QString();
}

void Base::setText(const QString &text)
{
    if (label_)
        label_->setPlainText(text);
}

void Base::setNumber(int number)
{
    if (!label_)
        return;
    label_->setNumber(number);
    label_->setEntries(label_->entries());
}

int Base::number() const
{
    return label_ ? label_->number() : 0;
}

void Base::setScale(double scale)
{
    // Kept for the label made by the first point: a shape rebuilt from a
    // picture gets the view's scale before it has any point.
    if (!std::isfinite(scale) || scale <= 0.0)
        return;
    const bool changed = scale != scale_;
    scale_ = scale;
    if (label_)
        label_->setScale(scale);
    if (changed)
        applySizes();
}

void Base::applySizes()
{
    if (!item_)
        return;
    // The sizes chosen stay; their setters turn them into scene units again.
    setLineWidth(properties_[SlotLineWidth]);
    setLLineWidth(properties_[SlotLLineWidth]);
    if (drawType_ == DrawType::LText)
        setLTextSize(properties_[SlotLTextSize]);
    else
        setTextSize(properties_[SlotTextSize]);
}

void Base::setCalibration(double umPerPixel)
{
    if (label_)
        label_->setCalibration(umPerPixel);
}

bool Base::isSelected() const
{
    if ((item_ && item_->isSelected()) || (label_ && label_->isSelected()))
        return true;
    for (GraphicsPoint *point : points_)
        if (point->isSelected())
            return true;
    return false;
}

bool Base::isItemAndLabelSelected() const
{
    return item_ && label_ && item_->isSelected() && label_->isSelected();
}

void Base::storeLabelRest(bool follow)
{
    if (!label_)
        return;
    label_->setDragOrigin(label_->pos());
    label_->setFlag(QGraphicsItem::ItemSendsGeometryChanges, follow);
}

void Base::setHighlighted(bool on)
{
    if (item_)
        item_->setHighlighted(on);
    if (label_)
        label_->setHighlighted(on);
}

QVariant Base::property(int slot) const
{
    return slot >= 0 && slot < SlotCount ? properties_[slot] : QVariant();
}

void Base::setPointWidth(const QVariant &value)
{
    properties_[SlotPointWidth] = value;
    applyHandlePen();
}

void Base::setPointColor(const QVariant &value)
{
    properties_[SlotPointColor] = value;
    applyHandlePen();
}

void Base::setLineWidth(const QVariant &value)
{
    properties_[SlotLineWidth] = value;
    if (item_)
        item_->setPenWidth(qMax(0, sceneSize(SlotLineWidth)));
}

void Base::setLineStyle(const QVariant &value)
{
    properties_[SlotLineStyle] = value;
    if (item_)
        item_->setLineStyle(penStyleFromValue(value, Qt::SolidLine));
}

void Base::setLineColor(const QVariant &value)
{
    properties_[SlotLineColor] = value;
    if (item_)
        item_->setColor(colorFrom(value));
}

void Base::setTextSize(const QVariant &value)
{
    if (drawType_ == DrawType::LText)
        return;
    properties_[SlotTextSize] = value;
    if (label_) {
        QFont font = label_->font();
        font.setPixelSize(scenePixelSize(SlotTextSize));
        label_->setFont(font);
    }
}

void Base::setTextFont(const QVariant &value)
{
    if (drawType_ == DrawType::LText)
        return;
    properties_[SlotTextFont] = value;
    if (label_) {
        QFont font = label_->font();
        font.setFamily(fontFamilyFrom(value));
        label_->setFont(font);
    }
}

void Base::setTextColor(const QVariant &value)
{
    if (drawType_ == DrawType::LText)
        return;
    properties_[SlotTextColor] = value;
    if (label_)
        label_->setTextColor(colorFrom(value));
}

void Base::setLTextSize(const QVariant &value)
{
    if (drawType_ != DrawType::LText)
        return;
    properties_[SlotLTextSize] = value;
    if (label_) {
        QFont font = label_->font();
        font.setPixelSize(scenePixelSize(SlotLTextSize));
        label_->setFont(font);
        labelFont_ = font;
    }
}

void Base::setLTextFont(const QVariant &value)
{
    if (drawType_ != DrawType::LText)
        return;
    properties_[SlotLTextFont] = value;
    if (label_) {
        QFont font = label_->font();
        font.setFamily(fontFamilyFrom(value));
        label_->setFont(font);
        labelFont_ = font;
    }
}

void Base::setLTextColor(const QVariant &value)
{
    if (drawType_ != DrawType::LText)
        return;
    properties_[SlotLTextColor] = value;
    if (label_)
        label_->setTextColor(colorFrom(value));
}

void Base::setLLineWidth(const QVariant &value)
{
    properties_[SlotLLineWidth] = value;
    if (item_)
        item_->setTextLineWidth(qMax(0, sceneSize(SlotLLineWidth)));
}

void Base::setLLineStyle(const QVariant &value)
{
    properties_[SlotLLineStyle] = value;
    if (item_)
        item_->setTextLineStyle(penStyleFromValue(value, Qt::SolidLine));
}

void Base::setLLineColor(const QVariant &value)
{
    properties_[SlotLLineColor] = value;
    properties_[SlotPointColor] = value;
    applyHandlePen();
    if (item_)
        item_->setTextLineColor(colorFrom(value));
}

void Base::setLineDistance1(const QVariant &value)
{
    if (auto *line = dynamic_cast<GraphicsLine *>(item_); line && isPlainLine())
        line->setLineDistance1(toReal(value));
}

void Base::setLineDistance2(const QVariant &value)
{
    if (auto *line = dynamic_cast<GraphicsLine *>(item_); line && isPlainLine())
        line->setLineDistance2(toReal(value));
}

void Base::setRingDistance1(const QVariant &value)
{
    if (auto *ring = dynamic_cast<GraphicsRing *>(item_))
        ring->setRingDistance1(toReal(value));
}

void Base::setRingDistance2(const QVariant &value)
{
    if (auto *ring = dynamic_cast<GraphicsRing *>(item_))
        ring->setRingDistance2(toReal(value));
}

void Base::finish()
{
    if (item_)
        item_->setHandlesVisible(false);
    for (int i = 0; i < qMin(2, points_.size()); ++i)
        points_[i]->setCircularOutline();
    finished_ = true;
}

double Base::itemLength() const
{
    return item_ ? item_->lineLength() : 0.0;
}

double Base::circleDiameter() const
{
    if (!item_)
        return 0.0;
    const double r = item_->radius();
    return r > 0.0 && std::isfinite(r) ? 2.0 * r : 0.0;
}
