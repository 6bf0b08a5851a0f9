// Public face of the settings panels and dialogs.
#pragma once

#include "photo_naming.h"
#include "photo_settings.h"
