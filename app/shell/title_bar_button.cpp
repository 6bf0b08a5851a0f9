#include "title_bar_button.h"

#include <QFile>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QSvgRenderer>

namespace {
constexpr int kButtonWidth = 46;
constexpr int kButtonHeight = 32;

QPen glyphPen(const QColor &color)
{
    QPen pen(color, 1, Qt::SolidLine);
    pen.setCosmetic(true);
    return pen;
}

void setRedScheme(TitleBarButton *button)
{
    button->setHoverForeground(Qt::white);
    button->setPressedForeground(Qt::white);
    button->setHoverBackground(QColor(232, 17, 35));
    button->setPressedBackground(QColor(241, 112, 122));
}
}  // namespace

TitleBarButton::TitleBarButton(QWidget *parent)
    : QAbstractButton(parent)
{
    foregrounds_[Normal] = QColor(255, 255, 255, 255);
    foregrounds_[Hovered] = QColor(0, 0, 0, 255);
    foregrounds_[Pressed] = QColor(0, 0, 0, 255);
    backgrounds_[Normal] = QColor(0, 0, 0, 0);
    backgrounds_[Hovered] = QColor(0, 0, 0, 26);
    backgrounds_[Pressed] = QColor(0, 0, 0, 51);
    setFixedSize(kButtonWidth, kButtonHeight);
    setCursor(Qt::ArrowCursor);
}

TitleBarButton::~TitleBarButton() = default;

void TitleBarButton::setColor(QColor &slot, const QColor &color)
{
    if (slot == color)
        return;
    slot = color;
    update();
}

void TitleBarButton::setHoverForeground(const QColor &color) { setColor(foregrounds_[Hovered], color); }
void TitleBarButton::setHoverBackground(const QColor &color) { setColor(backgrounds_[Hovered], color); }
void TitleBarButton::setPressedForeground(const QColor &color) { setColor(foregrounds_[Pressed], color); }
void TitleBarButton::setPressedBackground(const QColor &color) { setColor(backgrounds_[Pressed], color); }

void TitleBarButton::setState(int state)
{
    if (state_ == state)
        return;
    state_ = state;
    update();
}

void TitleBarButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    setState(Pressed);
    QAbstractButton::mousePressEvent(event);
}

void TitleBarButton::enterEvent(QEvent *event)
{
    setState(Hovered);
    QAbstractButton::enterEvent(event);
}

void TitleBarButton::leaveEvent(QEvent *event)
{
    setState(Normal);
    QAbstractButton::leaveEvent(event);
}

void TitleBarButton::paintBackground(QPainter &painter) const
{
    painter.fillRect(rect(), background());
}

MinimizeButton::MinimizeButton(QWidget *parent)
    : TitleBarButton(parent)
{
}

void MinimizeButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintBackground(painter);
    painter.setPen(glyphPen(foreground()));
    painter.drawLine(18, 16, 28, 16);
}

MaximizeButton::MaximizeButton(QWidget *parent)
    : TitleBarButton(parent)
{
}

MaximizeButton::Glyph MaximizeButton::glyph(bool maximized, qreal ratio)
{
    // Coordinates are scaled to device pixels and cut to whole pixels, so the
    // 1-pixel glyph stays sharp at fractional scale factors.
    auto at = [ratio](int x, int y) { return QPoint(int(x * ratio), int(y * ratio)); };
    Glyph glyph;
    if (!maximized) {
        const int side = int(10 * ratio);
        glyph.square = QRectF(at(18, 11), QSizeF(side, side));
        return glyph;
    }
    glyph.square = QRectF(at(18, 13), QSizeF(8 * ratio, 8 * ratio));
    glyph.behind = {at(20, 13), at(20, 11), at(28, 11), at(28, 19), at(26, 19)};
    return glyph;
}

void MaximizeButton::setMaximized(bool maximized)
{
    if (maximized_ == maximized)
        return;
    maximized_ = maximized;
    setState(Normal);
    update();
}

void MaximizeButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintBackground(painter);
    const qreal ratio = devicePixelRatioF();
    painter.scale(1.0 / ratio, 1.0 / ratio);
    painter.setPen(glyphPen(foreground()));
    const Glyph shape = glyph(maximized_, ratio);
    painter.drawRect(shape.square);
    if (!shape.behind.isEmpty())
        painter.drawPolyline(shape.behind.constData(), shape.behind.size());
}

SvgTitleBarButton::SvgTitleBarButton(const QString &iconPath, QWidget *parent)
    : TitleBarButton(parent)
{
    QFile file(iconPath);
    if (!file.open(QIODevice::ReadOnly) || !icon_.setContent(&file))
        icon_.clear();
}

void SvgTitleBarButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    paintBackground(painter);
    if (icon_.isNull())
        return;
    const QDomNodeList paths = icon_.elementsByTagName(QStringLiteral("path"));
    for (int i = 0; i < paths.size(); ++i)
        paths.at(i).toElement().setAttribute(QStringLiteral("stroke"), foreground().name());
    QSvgRenderer renderer(icon_.toByteArray(1));
    renderer.render(&painter, rect());
}

SetButton::SetButton(QWidget *parent)
    : SvgTitleBarButton(QStringLiteral(":/pic/set.svg"), parent)
{
    setRedScheme(this);
}

CloseButton::CloseButton(QWidget *parent)
    : SvgTitleBarButton(QStringLiteral(":/pic/close.svg"), parent)
{
    setRedScheme(this);
}
