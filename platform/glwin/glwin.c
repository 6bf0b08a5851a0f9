/*
 * glwin over Xlib and GLX. Each window has its own display connection, so
 * window threads never share Xlib state.
 */
#include "glwin.h"

#include <epoxy/gl.h>
#include <epoxy/glx.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

struct glwin {
    Display *dpy;
    Window win;
    GLXContext ctx;
    Colormap cmap;
    Atom wm_delete;
    int width;
    int height;
};

static XVisualInfo *choose_visual(Display *dpy)
{
    /* 32 colour bits with alpha where the server has them, else 24. */
    int with_alpha[] = { GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8,
                         GLX_ALPHA_SIZE, 8, GLX_DEPTH_SIZE, 24, None };
    int without[] = { GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8,
                      GLX_DEPTH_SIZE, 24, None };
    XVisualInfo *vi = glXChooseVisual(dpy, DefaultScreen(dpy), with_alpha);
    return vi ? vi : glXChooseVisual(dpy, DefaultScreen(dpy), without);
}

static void release(glwin *w)
{
    if (w->ctx) {
        glXMakeCurrent(w->dpy, None, NULL);
        glXDestroyContext(w->dpy, w->ctx);
    }
    if (w->win)
        XDestroyWindow(w->dpy, w->win);
    if (w->cmap)
        XFreeColormap(w->dpy, w->cmap);
    if (w->dpy)
        XCloseDisplay(w->dpy);
    free(w);
}

static glwin *make(const char *title, int width, int height, int show)
{
    glwin *w = (glwin *)calloc(1, sizeof *w);
    XVisualInfo *vi;
    XSetWindowAttributes attrs;
    XSizeHints hints;
    Window root;
    int screen;
    if (!w)
        return NULL;
    if (!(w->dpy = XOpenDisplay(NULL)) || !glXQueryExtension(w->dpy, NULL, NULL) || !(vi = choose_visual(w->dpy))) {
        release(w);
        return NULL;
    }
    screen = DefaultScreen(w->dpy);
    root = RootWindow(w->dpy, screen);
    w->cmap = XCreateColormap(w->dpy, root, vi->visual, AllocNone);
    memset(&attrs, 0, sizeof attrs);
    attrs.colormap = w->cmap;
    attrs.background_pixmap = None; /* no background: every pixel is ours */
    attrs.border_pixel = 0;
    attrs.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask;
    w->width = width;
    w->height = height;
    w->win = XCreateWindow(w->dpy, root, (DisplayWidth(w->dpy, screen) - width) / 2,
                           (DisplayHeight(w->dpy, screen) - height) / 2, (unsigned)width, (unsigned)height, 0,
                           vi->depth, InputOutput, vi->visual, CWColormap | CWBackPixmap | CWBorderPixel | CWEventMask,
                           &attrs);
    w->ctx = w->win ? glXCreateContext(w->dpy, vi, NULL, True) : NULL;
    XFree(vi);
    if (!w->ctx || !glXMakeCurrent(w->dpy, w->win, w->ctx) || epoxy_gl_version() < 20) {
        release(w);
        return NULL;
    }
    XStoreName(w->dpy, w->win, title ? title : "");
    w->wm_delete = XInternAtom(w->dpy, "WM_DELETE_WINDOW", False);
    XSetWMProtocols(w->dpy, w->win, &w->wm_delete, 1);
    /* The position asked for, so a window manager keeps it centred. */
    memset(&hints, 0, sizeof hints);
    hints.flags = PPosition | PSize;
    hints.x = (DisplayWidth(w->dpy, screen) - width) / 2;
    hints.y = (DisplayHeight(w->dpy, screen) - height) / 2;
    hints.width = width;
    hints.height = height;
    XSetWMNormalHints(w->dpy, w->win, &hints);
    if (show) {
        XMapRaised(w->dpy, w->win);
        XFlush(w->dpy);
    }
    return w;
}

/* The display connection of the last successful probe stays open: closing
 * a display's last connection unloads the GL driver with it, and every later
 * window would load it again. */
static Display *g_probed;
static pthread_mutex_t g_probe_lock = PTHREAD_MUTEX_INITIALIZER;

int glwin_probe(void)
{
    glwin *w = make("hello", 16, 16, 0);
    if (!w)
        return 0;
    glXMakeCurrent(w->dpy, None, NULL);
    glXDestroyContext(w->dpy, w->ctx);
    XDestroyWindow(w->dpy, w->win);
    XFreeColormap(w->dpy, w->cmap);
    XSync(w->dpy, False);
    pthread_mutex_lock(&g_probe_lock);
    if (g_probed)
        XCloseDisplay(g_probed);
    g_probed = w->dpy;
    pthread_mutex_unlock(&g_probe_lock);
    free(w);
    return 1;
}

glwin *glwin_create(const char *title, int width, int height)
{
    if (width < 1 || height < 1)
        return NULL;
    return make(title, width, height, 1);
}

void glwin_destroy(glwin *w)
{
    if (w)
        release(w);
}

int glwin_next_event(glwin *w, int *width, int *height)
{
    while (XPending(w->dpy)) {
        XEvent ev;
        XNextEvent(w->dpy, &ev);
        switch (ev.type) {
        case Expose:
            if (ev.xexpose.count == 0)
                return GLWIN_EV_PAINT;
            break;
        case ConfigureNotify:
            if (ev.xconfigure.width != w->width || ev.xconfigure.height != w->height) {
                w->width = ev.xconfigure.width;
                w->height = ev.xconfigure.height;
                *width = w->width;
                *height = w->height;
                return GLWIN_EV_RESIZED;
            }
            break;
        case KeyPress:
            if (XLookupKeysym(&ev.xkey, 0) == XK_Escape)
                return GLWIN_EV_CLOSE;
            break;
        case ClientMessage:
            if ((Atom)ev.xclient.data.l[0] == w->wm_delete)
                return GLWIN_EV_CLOSE;
            break;
        default:
            break;
        }
    }
    return GLWIN_EV_NONE;
}

void glwin_size(glwin *w, int *width, int *height)
{
    *width = w->width;
    *height = w->height;
}

void glwin_make_current(glwin *w) { glXMakeCurrent(w->dpy, w->win, w->ctx); }

void glwin_swap(glwin *w) { glXSwapBuffers(w->dpy, w->win); }

unsigned long glwin_native(glwin *w) { return (unsigned long)w->win; }
