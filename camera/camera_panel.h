// What a camera asks of the camera settings panel it is bound to. The
// settings page implements this; the cameras never touch its widgets.
#pragma once

#include "camera_types.h"

class CameraPanel
{
public:
    virtual ~CameraPanel() = default;

    // Fills the basic page from a record: the focus and exposure groups, the
    // resolution, picture-resolution, quality and stream-format rows (from
    // `resolutions` and `streamFormats`), and which rows are shown.
    virtual void showCameraParameters(const CameraParameters &params, const ResolutionMap &resolutions,
                                      const QList<int> &streamFormats) = 0;
    // Refills the frame-rate list (its signals blocked) and selects the first entry.
    virtual void setFrameRates(const QList<int> &rates) = 0;
    // Shows again every named control that a camera hid.
    virtual void showAllControls() = 0;
    // Hides the two basic-page controls the E-series USB cameras lack and
    // puts the selection list among them back to its first entry.
    virtual void hideSeriesControls() = 0;
};
