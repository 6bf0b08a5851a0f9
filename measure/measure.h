// Public face of the measurement subsystem: drawing modes, units and label
// text, measurement geometry, graphics items, shapes, the scene and its
// view, and the stored graphics list of picture files.
#pragma once

#include "draw_type.h"
#include "geometry.h"
#include "graphics_items.h"
#include "graphics_view.h"
#include "label_format.h"
#include "main_scene.h"
#include "shapes.h"
#include "stored_graphics.h"
