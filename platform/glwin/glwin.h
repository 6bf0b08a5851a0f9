/*
 * glwin: a top-level window with an OpenGL context, for a thread that draws
 * into it on its own (X11 with GLX; entry points through libepoxy).
 *
 * What callers may rely on:
 * - Every function of one window is called on the thread that created it;
 *   that thread's context is current after glwin_create.
 * - The context is a compatibility one of OpenGL 2.0 or later (GLSL 1.10
 *   shaders, luminance textures), double-buffered, RGBA with a depth buffer.
 * - Without a display, or without such a context, glwin_probe answers 0 and
 *   glwin_create returns null; nothing is left open.
 * - Events are taken without blocking: the size of the drawing area when it
 *   changes, a request to repaint, and the user's request to close (the
 *   close button or the Escape key).
 */
#ifndef PF_GLWIN_H
#define PF_GLWIN_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct glwin glwin;

enum glwin_event {
    GLWIN_EV_NONE = 0,
    GLWIN_EV_CLOSE = 2,   /* the user asked to close */
    GLWIN_EV_RESIZED = 5, /* width and height: the new drawing area */
    GLWIN_EV_PAINT = 15   /* part of the window must be drawn again */
};

/* 1 when a window with such a context can be made on this display. */
int glwin_probe(void);

/* A window whose drawing area is width x height, centred on the screen and
 * shown; null on failure. */
glwin *glwin_create(const char *title, int width, int height);
void glwin_destroy(glwin *w);

/* Takes the next event (GLWIN_EV_NONE when none is waiting). */
int glwin_next_event(glwin *w, int *width, int *height);
void glwin_size(glwin *w, int *width, int *height);
void glwin_make_current(glwin *w);
void glwin_swap(glwin *w);
/* The native window (an X11 Window), for tests that look at it. */
unsigned long glwin_native(glwin *w);

#ifdef __cplusplus
}
#endif

#endif
