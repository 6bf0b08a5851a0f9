// Public face of the settings panels and dialogs.
#pragma once

#include "burst_mode_settings.h"
#include "cam_settings.h"
#include "ip_setting.h"
#include "photo_naming.h"
#include "photo_settings.h"
