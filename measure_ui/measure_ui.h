// Public face of the measurement and annotation panels: the measuring tool
// panel, the annotation panel, the floating tool panel, the calibration and
// common-tool dialogs, the property dialogs, and the small widgets that
// several forms place (pen-style picker, scroll-safe inputs).
#pragma once

#include "calibration_combo_box.h"
#include "calibration_widget.h"
#include "common_tool_set_dialog.h"
#include "draw_change_dialog.h"
#include "label_widget.h"
#include "measure_flow_panel.h"
#include "measure_widget.h"
#include "line_width_combobox.h"
#include "property_dialogs.h"
#include "scroll_safe_inputs.h"
