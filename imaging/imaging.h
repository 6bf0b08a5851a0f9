// Public face of the image-analysis subsystem.
#pragma once

#include "edge_search.h"
#include "image_convert.h"
#include "image_process.h"
#include "pic_analyse.h"
#include "picture_stitch.h"
