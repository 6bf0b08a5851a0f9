/*
 * The video window's thread: window and context, the 10 ms picture tick,
 * letterboxing, and the one OpenGL probe of the process.
 */
#include "gl_wnd.h"

#include <epoxy/gl.h>
#include <stdlib.h>
#include <string.h>

#include "glwin.h"
#include "qv_core.h"

struct gl_video_wnd {
    gl_wnd_source src;
    char title[GL_WND_TITLE_MAX + 1];
    int req_w;
    int req_h;
    qv_thread *thread;
    volatile int run;
    volatile int running;

    /* The window thread's own. */
    glwin *win;
    gl_yuv_renderer *renderer;
    dec_frame *frame;
    int client_w;
    int client_h;
    int redraw;
    uint32_t last_tick;

    pf_mutex lock;
    pf_cond cond;
    int want_read;
    uint8_t *rgba;
    int read_w;
    int read_h;
};

static pthread_mutex_t g_probe_lock = PTHREAD_MUTEX_INITIALIZER;
static int g_gl_ok;

int gl_wnd_probe(void)
{
    int ok;
    pthread_mutex_lock(&g_probe_lock);
    if (!g_gl_ok)
        g_gl_ok = glwin_probe();
    ok = g_gl_ok;
    pthread_mutex_unlock(&g_probe_lock);
    return ok;
}

int gl_wnd_available(void)
{
    int ok;
    pthread_mutex_lock(&g_probe_lock);
    ok = g_gl_ok;
    pthread_mutex_unlock(&g_probe_lock);
    return ok;
}

int gl_wnd_viewport(int w, int h, int W, int H, int out[4])
{
    if (w <= 0 || h <= 0 || W <= 0 || H <= 0)
        return 0;
    if ((float)W / (float)H > (float)w / (float)h) {
        int vw = (int)((int64_t)w * H / h);
        out[0] = (W - vw) / 2;
        out[1] = 0;
        out[2] = vw;
        out[3] = H;
    } else {
        int vh = (int)((int64_t)h * W / w);
        out[0] = 0;
        out[1] = (H - vh) / 2;
        out[2] = W;
        out[3] = vh;
    }
    if (out[0] < 0)
        out[0] = 0;
    if (out[1] < 0)
        out[1] = 0;
    return 1;
}

/* A picture the renderer can take: three planes of 4:2:0 whose strides hold
 * a row of the picture. */
static int usable(const dec_frame *f)
{
    return f && f->width > 0 && f->height > 0 && f->data[0] && f->data[1] && f->data[2] &&
           f->stride[0] >= f->width && f->stride[1] >= (f->width + 1) / 2 && f->stride[2] >= (f->width + 1) / 2;
}

static void read_back(gl_video_wnd *w)
{
    uint8_t *rgba;
    pf_mutex_lock(&w->lock);
    if (!w->want_read || w->client_w <= 0 || w->client_h <= 0) {
        pf_mutex_unlock(&w->lock);
        return;
    }
    rgba = (uint8_t *)malloc((size_t)w->client_w * (size_t)w->client_h * 4);
    if (rgba) {
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, w->client_w, w->client_h, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
        free(w->rgba);
        w->rgba = rgba;
        w->read_w = w->client_w;
        w->read_h = w->client_h;
    }
    w->want_read = 0;
    pf_cond_broadcast(&w->cond);
    pf_mutex_unlock(&w->lock);
}

static void draw(gl_video_wnd *w, int fresh)
{
    int vp[4];
    glViewport(0, 0, w->client_w, w->client_h);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    if (w->frame && gl_wnd_viewport(w->frame->width, w->frame->height, w->client_w, w->client_h, vp)) {
        glViewport(vp[0], vp[1], vp[2], vp[3]);
        gl_yuv_draw(w->renderer, w->frame, fresh);
    }
    read_back(w);
    glwin_swap(w->win);
}

static void tick(gl_video_wnd *w)
{
    dec_frame *f = NULL;
    int fresh = 0;
    if (w->src.take && w->src.take(w->src.user, &f) == 0 && f) {
        if (usable(f)) {
            if (w->frame)
                w->src.release(w->src.user, w->frame);
            w->frame = f;
            fresh = 1;
        } else {
            w->src.release(w->src.user, f);
        }
    }
    if (__atomic_load_n(&w->want_read, __ATOMIC_ACQUIRE))
        w->redraw = 1;
    if (fresh || w->redraw) {
        draw(w, fresh);
        w->redraw = 0;
    }
}

static void wnd_thread(void *data, volatile int *run)
{
    gl_video_wnd *w = (gl_video_wnd *)data;
    w->win = glwin_create(w->title, w->req_w, w->req_h);
    if (w->win) {
        /* WND_EV_CREATED: the context is current; the renderer is made. */
        w->renderer = gl_yuv_create();
        glwin_size(w->win, &w->client_w, &w->client_h);
        w->redraw = 1;
        w->last_tick = pf_tick_ms();
        while (qv_running(run)) {
            int cw = 0, ch = 0;
            int ev = glwin_next_event(w->win, &cw, &ch);
            uint32_t now;
            if (ev == GLWIN_EV_CLOSE)
                break; /* WND_EV_DESTROYED */
            if (ev == GLWIN_EV_RESIZED) {
                w->client_w = cw;
                w->client_h = ch;
                w->redraw = 1;
                continue;
            }
            if (ev == GLWIN_EV_PAINT) {
                w->redraw = 1;
                continue;
            }
            now = pf_tick_ms();
            if (pf_tick_diff(now, w->last_tick) >= GL_WND_TICK_MS) {
                tick(w); /* WND_EV_TICK */
                w->last_tick = now;
            }
            pf_sleep_ms(1);
        }
        /* WND_EV_CLOSING: the renderer and the picture go with the context. */
        if (w->frame)
            w->src.release(w->src.user, w->frame);
        w->frame = NULL;
        gl_yuv_free(w->renderer);
        w->renderer = NULL;
        glwin_destroy(w->win);
        w->win = NULL;
    }
    pf_mutex_lock(&w->lock);
    __atomic_store_n(&w->running, 0, __ATOMIC_RELEASE);
    pf_cond_broadcast(&w->cond);
    pf_mutex_unlock(&w->lock);
}

gl_video_wnd *gl_wnd_open(const char *title, int width, int height, const gl_wnd_source *source)
{
    gl_video_wnd *w;
    if (width < 1 || height < 1 || !source)
        return NULL;
    w = (gl_video_wnd *)calloc(1, sizeof *w);
    if (!w)
        return NULL;
    w->src = *source;
    qv_strlcpy(w->title, title ? title : "", sizeof w->title);
    w->req_w = width;
    w->req_h = height;
    pf_mutex_init(&w->lock);
    pf_cond_init(&w->cond);
    w->running = 1;
    w->thread = qv_thread_start(wnd_thread, w, &w->run, "qv_gl_wnd");
    if (!w->thread) {
        pf_cond_destroy(&w->cond);
        pf_mutex_destroy(&w->lock);
        free(w);
        return NULL;
    }
    return w;
}

int gl_wnd_running(gl_video_wnd *w) { return w && __atomic_load_n(&w->running, __ATOMIC_ACQUIRE); }

void gl_wnd_close(gl_video_wnd *w)
{
    if (!w)
        return;
    qv_thread_stop(w->thread);
    free(w->rgba);
    pf_cond_destroy(&w->cond);
    pf_mutex_destroy(&w->lock);
    free(w);
}

int gl_wnd_read_back(gl_video_wnd *w, uint8_t **rgba, int *width, int *height, uint32_t timeout_ms)
{
    uint64_t until = pf_clock_ms() + timeout_ms;
    int rc = -1;
    pf_mutex_lock(&w->lock);
    free(w->rgba);
    w->rgba = NULL;
    __atomic_store_n(&w->want_read, 1, __ATOMIC_RELEASE);
    while (!w->rgba && __atomic_load_n(&w->running, __ATOMIC_ACQUIRE)) {
        uint64_t now = pf_clock_ms();
        if (now >= until)
            break;
        pf_cond_wait_ms(&w->cond, &w->lock, (uint32_t)(until - now));
    }
    if (w->rgba) {
        *rgba = w->rgba;
        *width = w->read_w;
        *height = w->read_h;
        w->rgba = NULL;
        rc = 0;
    }
    w->want_read = 0;
    pf_mutex_unlock(&w->lock);
    return rc;
}
