/*
 * gl_wnd: the library's own video window. A thread ("qv_gl_wnd") owns a
 * native window with an OpenGL context, takes a decoded picture from its
 * frame source every 10 ms and draws it letterboxed with a YUV-to-RGB
 * shader. The window closes on Escape, on the close button, or through
 * gl_wnd_close.
 */
#ifndef GL_WND_H
#define GL_WND_H

#include <stdint.h>

#include "trovix.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Window events of the window thread. */
enum {
    WND_EV_DESTROYED = 2,
    WND_EV_RESIZED = 5,
    WND_EV_PAINTED = 15,
    WND_EV_CREATED = 2024,
    WND_EV_CLOSING = 2025,
    WND_EV_TICK = 2026
};

#define GL_WND_TICK_MS 10u
#define GL_WND_TITLE_MAX 128

/* Where the window's pictures come from (the pacing step of a decoder):
 * take hands out the next due picture in YUV420P_SEPARATE (0) or nothing
 * (non-zero); release frees a picture taken. Called on the window thread. */
typedef struct gl_wnd_source {
    int (*take)(void *user, dec_frame **out);
    void (*release)(void *user, dec_frame *frame);
    void *user;
} gl_wnd_source;

typedef struct gl_video_wnd gl_video_wnd;

/* The one OpenGL probe of the process: 1 when windows can be shown. A probe
 * that failed is repeated on the next call; one that succeeded is kept. */
int gl_wnd_probe(void);
int gl_wnd_available(void);

/* Starts the window thread; null when the thread can't start. The window
 * itself appears on that thread: gl_wnd_running turns false if it can't. */
gl_video_wnd *gl_wnd_open(const char *title, int width, int height, const gl_wnd_source *source);
int gl_wnd_running(gl_video_wnd *w);
/* Stops the thread (the window, its context and renderer go with it) and
 * frees the record; the source is not used afterwards. */
void gl_wnd_close(gl_video_wnd *w);

/* The next picture drawn, read back as RGBA rows from the bottom up, at the
 * size of the drawing area; 0 on success (free *rgba with free()). For tests
 * and diagnostics. */
int gl_wnd_read_back(gl_video_wnd *w, uint8_t **rgba, int *width, int *height, uint32_t timeout_ms);

/* The letterboxed viewport of a w x h picture in a W x H drawing area:
 * x, y, width, height; 0 when there is nothing to draw. */
int gl_wnd_viewport(int w, int h, int W, int H, int out[4]);

/* ---- the handle of a Lua host ---- */
/* Full userdata with the metatable "qv_gl_wnd_meta"; wnd is null once
 * closed. */
typedef struct qv_gl_wnd_lua_t {
    gl_video_wnd *wnd;
    int dec_id;
} qv_gl_wnd_lua_t;

struct lua_State;
/* trovix.open_wnd([id], [width], [height], [title]). */
int qv_gl_wnd_open(struct lua_State *L);
/* Registers the metatable "qv_gl_wnd_meta" with the handle's methods. */
void qv_gl_wnd_register(struct lua_State *L);

/* ---- the YUV renderer (one per window, used on its thread only) ---- */
typedef struct gl_yuv_renderer gl_yuv_renderer;
gl_yuv_renderer *gl_yuv_create(void);
/* Uploads the frame's planes (width x rows of each, read with its stride)
 * and draws them into the current viewport. */
void gl_yuv_draw(gl_yuv_renderer *r, const dec_frame *frame, int fresh);
int gl_yuv_has_program(const gl_yuv_renderer *r);
void gl_yuv_free(gl_yuv_renderer *r);

#ifdef __cplusplus
}
#endif

#endif
