// The drawing mode of a scene and, for 4 to 26, the kind of a shape.
#pragma once

#include <QMetaType>

enum DrawType : int {
    AutoFocusPoint = 1,  // auto-focus click; builds no shape
    Track = 2,           // tracking mode; builds no shape
    Hand = 3,            // selection and editing; the scene's starting mode
    Line = 4,
    HLine = 5,
    VLine = 6,
    AnyLine = 7,
    Par = 8,
    Ver = 9,
    Ang = 10,
    ThreeAng = 11,
    Rect = 12,
    Arc = 13,
    Cir = 14,
    Ring = 15,
    Poly = 16,
    LCir = 17,
    VerCircle = 18,  // selectable in the tool panel; builds no shape
    TCir = 19,
    LText = 20,
    Cross = 21,      // crosshair overlay
    Gridlines = 22,  // gridline overlay
    LCali = 23,
    CCali = 24,
    MarkRect = 25,
    MarkCir = 26,
};

Q_DECLARE_METATYPE(DrawType)

inline void registerDrawTypeMetaType()
{
    qRegisterMetaType<DrawType>("DrawType");
}
