/*
 * USB camera control layer: lists USB cameras and reads and sets their
 * controls. Two backends stand behind these calls: V4L2 for real UVC cameras
 * (/dev/video*), and a virtual camera listed only when the environment holds
 * VORENTA_VIRTUAL_CAMERA=1.
 *
 * What callers may rely on:
 * - Every control call takes a control handle (from cam_get_context or
 *   cam_find_context) as its first argument; a handle that is unknown or
 *   whose device has gone makes every call answer -1.
 * - Getters return the value, or -1 when the device lacks the control or the
 *   read failed. Setters and range queries return 0 on success, -1 otherwise.
 * - Modes: exposure and white balance 1 auto, 0 manual; focus 1 auto,
 *   0 manual, 2 once; flip, mirror, flicker and defog (demist) 1 on, 0 off.
 * - All calls are safe from any thread.
 */
#ifndef VORENTA_CONTROL_H
#define VORENTA_CONTROL_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { CAM_MAX_DEVICES = 8, CAM_NAME_SIZE = 128, CAM_PATH_SIZE = 1024 };

/* One listed device: 1156 bytes. */
typedef struct cam_device_record {
    char name[CAM_NAME_SIZE];  /* zero-terminated; "UVC" in it for UVC cameras */
    char path[CAM_PATH_SIZE];  /* zero-terminated; the camera's unique name */
    int32_t handle;            /* control handle, -1 when none was taken */
} cam_device_record;

/* The probe buffer: 8 records, then the count of valid ones (9252 bytes). */
typedef struct cam_probe_buffer {
    cam_device_record devices[CAM_MAX_DEVICES];
    int32_t count;
} cam_probe_buffer;

/*
 * Device paths hold "usb", the USB vendor and product ids as lower-case hex
 * ("vid_xxxx&pid_xxxx") and end in 7 characters ("#" and a 6-digit node
 * number) that may change from one plug-in to the next; what comes before
 * them names the physical port and model.
 */

/* Fills `buffer` with the attached cameras (handles of the current context
 * where it has one for the device, else -1). Returns the count. */
int cam_probe_devices(cam_probe_buffer *buffer);
/* Takes a new context: one control handle per listed device, written into
 * `buffer` (which may be null). Returns the count, -1 on failure. */
int cam_get_context(cam_probe_buffer *buffer);
/* Releases every handle of the current context; 0, or -1 on failure. */
int cam_free_context(void);
/* The handle for one device path, taking one when the current context has
 * none for it; -1 when no attached device has that path. */
int32_t cam_find_context(const char *path);

int cam_get_version(int32_t handle, int32_t *version);  /* firmware version x 100 */
int cam_save_config(int32_t handle);

int32_t cam_get_exposure_mode(int32_t handle);
int cam_set_exposure_mode(int32_t handle, int32_t value);
int32_t cam_get_exposure_time(int32_t handle);
int cam_set_exposure_time(int32_t handle, int32_t value);
int32_t cam_get_exposure_gain(int32_t handle);
int cam_set_exposure_gain(int32_t handle, int32_t value);
int32_t cam_get_exposure_compensation(int32_t handle);
int cam_set_exposure_compensation(int32_t handle, int32_t value);

int32_t cam_get_white_balance_mode(int32_t handle);
int cam_set_white_balance_mode(int32_t handle, int32_t value);
int32_t cam_get_white_balance_component_red(int32_t handle);
int cam_set_white_balance_component_red(int32_t handle, int32_t value);
int32_t cam_get_white_balance_component_green(int32_t handle);
int cam_set_white_balance_component_green(int32_t handle, int32_t value);
int32_t cam_get_white_balance_component_blue(int32_t handle);
int cam_set_white_balance_component_blue(int32_t handle, int32_t value);

int32_t cam_get_focus(int32_t handle);
int cam_set_focus(int32_t handle, int32_t value);
int32_t cam_get_focus_mode(int32_t handle);
int cam_set_focus_mode(int32_t handle, int32_t value);
int cam_get_focus_region(int32_t handle, int32_t *x, int32_t *y);
int cam_set_focus_region(int32_t handle, int32_t x, int32_t y);
int cam_trigger_focus_once(int32_t handle);

int32_t cam_get_zoom(int32_t handle);
int cam_set_zoom(int32_t handle, int32_t value);
int32_t cam_get_demist(int32_t handle);
int cam_set_demist(int32_t handle, int32_t value);

int32_t cam_get_hue(int32_t handle);
int cam_set_hue(int32_t handle, int32_t value);
int32_t cam_get_saturation(int32_t handle);
int cam_set_saturation(int32_t handle, int32_t value);
int32_t cam_get_contrast(int32_t handle);
int cam_set_contrast(int32_t handle, int32_t value);
int32_t cam_get_sharpness(int32_t handle);
int cam_set_sharpness(int32_t handle, int32_t value);
int32_t cam_get_gamma(int32_t handle);
int cam_set_gamma(int32_t handle, int32_t value);

int32_t cam_get_flip(int32_t handle);
int cam_set_flip(int32_t handle, int32_t value);
int32_t cam_get_mirror(int32_t handle);
int cam_set_mirror(int32_t handle, int32_t value);
int32_t cam_get_flick(int32_t handle);
int cam_set_flick(int32_t handle, int32_t value);

/* Range queries: minimum, maximum and default of a control. */
int cam_get_exposure_gain_range(int32_t handle, int32_t *minimum, int32_t *maximum, int32_t *defaultValue);
int cam_get_exposure_compensation_range(int32_t handle, int32_t *minimum, int32_t *maximum, int32_t *defaultValue);
int cam_get_hue_range(int32_t handle, int32_t *minimum, int32_t *maximum, int32_t *defaultValue);
int cam_get_saturation_range(int32_t handle, int32_t *minimum, int32_t *maximum, int32_t *defaultValue);
int cam_get_contrast_range(int32_t handle, int32_t *minimum, int32_t *maximum, int32_t *defaultValue);
int cam_get_sharpness_range(int32_t handle, int32_t *minimum, int32_t *maximum, int32_t *defaultValue);
int cam_get_gamma_range(int32_t handle, int32_t *minimum, int32_t *maximum, int32_t *defaultValue);

/* Focus-curve calibration and its check, on cameras that have them. */
int cam_focus_cure_test(int32_t handle);
int cam_focus_cure_check(int32_t handle);

#ifdef __cplusplus
}
#endif

#endif
