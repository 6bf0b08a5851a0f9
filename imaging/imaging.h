// Public face of the image-analysis subsystem.
#pragma once

#include "edge_search.h"
#include "image_convert.h"
#include "image_process.h"
