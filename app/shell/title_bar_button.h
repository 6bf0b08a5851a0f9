// The buttons of the title bar: 46 x 32, flat, with a foreground (glyph) and
// a background colour for each of the states normal, hovered and pressed.
// Minimise and maximise paint their glyphs; settings and close render an SVG
// icon whose path strokes take the foreground colour.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QDomDocument>
#include <QPoint>
#include <QRectF>
#include <QVector>

class TitleBarButton : public QAbstractButton
{
    Q_OBJECT
public:
    enum State { Normal = 0, Hovered = 1, Pressed = 2 };

    ~TitleBarButton() override;

    int state() const { return state_; }
    QColor foreground() const { return foregrounds_[state_]; }
    QColor background() const { return backgrounds_[state_]; }

    // Each repaints only when the colour changes.
    void setHoverForeground(const QColor &color);
    void setHoverBackground(const QColor &color);
    void setPressedForeground(const QColor &color);
    void setPressedBackground(const QColor &color);

protected:
    explicit TitleBarButton(QWidget *parent = nullptr);

    void mousePressEvent(QMouseEvent *event) override;
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;

    void setState(int state);
    // Fills the button with the background colour of the current state.
    void paintBackground(QPainter &painter) const;

private:
    void setColor(QColor &slot, const QColor &color);

    int state_ = Normal;
    QColor foregrounds_[3];
    QColor backgrounds_[3];
};

class MinimizeButton : public TitleBarButton
{
    Q_OBJECT
public:
    explicit MinimizeButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

class MaximizeButton : public TitleBarButton
{
    Q_OBJECT
public:
    // The glyph in device pixels: the square, and for the restore glyph the
    // open path of the window behind it (empty for the maximise glyph).
    struct Glyph {
        QRectF square;
        QVector<QPoint> behind;
    };
    static Glyph glyph(bool maximized, qreal devicePixelRatio);

    explicit MaximizeButton(QWidget *parent = nullptr);

    bool isMaximized() const { return maximized_; }
    // Switches between the maximise and the restore glyph; a hovered or
    // pressed look is dropped, since the button has moved under the pointer.
    void setMaximized(bool maximized);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool maximized_ = false;
};

class SvgTitleBarButton : public TitleBarButton
{
    Q_OBJECT
public:
    // An icon that can't be read or parsed leaves the button showing only
    // its background.
    explicit SvgTitleBarButton(const QString &iconPath, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QDomDocument icon_;
};

// Settings and close share a red hover scheme; the title bar gives the
// settings button its blue one.
class SetButton : public SvgTitleBarButton
{
    Q_OBJECT
public:
    explicit SetButton(QWidget *parent = nullptr);
};

class CloseButton : public SvgTitleBarButton
{
    Q_OBJECT
public:
    explicit CloseButton(QWidget *parent = nullptr);
};
