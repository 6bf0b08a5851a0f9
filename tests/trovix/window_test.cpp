// The video window under a real X server (Xvfb with Mesa): pictures fed to
// it are read back and compared with the colours of a known test picture;
// letterboxing, resizing, Escape and closing. Without a display the cases
// skip.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <array>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include <lauxlib.h>
#include <lualib.h>

#include "gl_wnd.h"
#include "glwin.h"
#include "qv_core.h"
#include "sim_camera.h"
#include "sim_stream.h"
#include "test_util.h"
#include "trovix.h"

namespace {

struct Yuv {
    uint8_t y, u, v;
};
// BT.601 video-range values of full red, green, blue and white.
const Yuv RED{ 81, 90, 240 }, GREEN{ 145, 54, 34 }, BLUE{ 41, 240, 110 }, WHITE{ 235, 128, 128 };

// A 4:2:0 picture with padded rows; the padding holds a colour that must
// never show.
dec_frame *picture(int w, int h, int pad, const std::vector<Yuv> &quadrants)
{
    auto *f = static_cast<dec_frame *>(calloc(1, sizeof(dec_frame)));
    int cw = (w + 1) / 2, ch = (h + 1) / 2;
    f->fmt = DEC_PIX_YUV420P_SEPARATE;
    f->width = w;
    f->height = h;
    f->stride[0] = w + pad;
    f->stride[1] = f->stride[2] = cw + pad / 2;
    size_t size = static_cast<size_t>(f->stride[0]) * h + 2u * static_cast<size_t>(f->stride[1]) * ch;
    auto *bytes = static_cast<uint8_t *>(malloc(size));
    memset(bytes, 255, size); // padding: Y 255, U 255, V 255 is a bright magenta
    f->data[0] = bytes;
    f->data[1] = bytes + static_cast<size_t>(f->stride[0]) * h;
    f->data[2] = f->data[1] + static_cast<size_t>(f->stride[1]) * ch;
    f->buf = bytes;
    auto quad = [&](int x, int y, int qw, int qh) {
        return quadrants[static_cast<size_t>((y * 2 >= qh ? 2 : 0) + (x * 2 >= qw ? 1 : 0)) % quadrants.size()];
    };
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            f->data[0][y * f->stride[0] + x] = quad(x, y, w, h).y;
    for (int y = 0; y < ch; y++)
        for (int x = 0; x < cw; x++) {
            f->data[1][y * f->stride[1] + x] = quad(x, y, cw, ch).u;
            f->data[2][y * f->stride[2] + x] = quad(x, y, cw, ch).v;
        }
    return f;
}

void freePicture(dec_frame *f)
{
    free(f->buf);
    free(f);
}

// Frames fed by the test, taken by the window thread.
struct Feed {
    std::mutex mu;
    std::deque<dec_frame *> queue;
    int taken = 0;
    int released = 0;
    static int take(void *user, dec_frame **out)
    {
        auto *self = static_cast<Feed *>(user);
        std::lock_guard<std::mutex> lock(self->mu);
        if (self->queue.empty())
            return 5;
        *out = self->queue.front();
        self->queue.pop_front();
        self->taken++;
        return 0;
    }
    static void release(void *user, dec_frame *f)
    {
        auto *self = static_cast<Feed *>(user);
        std::lock_guard<std::mutex> lock(self->mu);
        self->released++;
        freePicture(f);
    }
    void push(dec_frame *f)
    {
        std::lock_guard<std::mutex> lock(mu);
        queue.push_back(f);
    }
    gl_wnd_source source() { return gl_wnd_source{ take, release, this }; }
    ~Feed()
    {
        for (dec_frame *f : queue)
            freePicture(f);
    }
};

struct Shot {
    std::vector<uint8_t> rgba;
    int w = 0, h = 0;
    // Pixel at x, y counted from the top left.
    std::array<int, 3> at(int x, int y) const
    {
        size_t i = (static_cast<size_t>(h - 1 - y) * static_cast<size_t>(w) + static_cast<size_t>(x)) * 4;
        return { rgba[i], rgba[i + 1], rgba[i + 2] };
    }
};

Shot readBack(gl_video_wnd *w)
{
    Shot s;
    uint8_t *rgba = nullptr;
    if (gl_wnd_read_back(w, &rgba, &s.w, &s.h, 20000) == 0) {
        s.rgba.assign(rgba, rgba + static_cast<size_t>(s.w) * static_cast<size_t>(s.h) * 4);
        free(rgba);
    }
    return s;
}

void expectColour(const std::array<int, 3> &got, int r, int g, int b, const char *what)
{
    EXPECT_NEAR(got[0], r, 4) << what;
    EXPECT_NEAR(got[1], g, 4) << what;
    EXPECT_NEAR(got[2], b, 4) << what;
}

class VideoWindow : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!gl_wnd_probe())
            GTEST_SKIP() << "no display with OpenGL here";
    }
    void TearDown() override { gl_wnd_close(wnd); }
    gl_video_wnd *open(int w, int h)
    {
        wnd = gl_wnd_open("test window", w, h, &src);
        return wnd;
    }
    // Waits (up to 20 s) until a picture has been taken, and reads back what is shown.
    Shot shown(int takenAtLeast)
    {
        simcam::SimCamera::waitFor(
            [&] {
                std::lock_guard<std::mutex> lock(feed.mu);
                return feed.taken >= takenAtLeast;
            },
            20000);
        return readBack(wnd);
    }
    Feed feed;
    gl_wnd_source src = feed.source();
    gl_video_wnd *wnd = nullptr;
};

} // namespace

TEST(VideoWindowViewport, LetterboxesKeepingTheAspectRatio)
{
    int vp[4];
    ASSERT_TRUE(gl_wnd_viewport(1920, 1080, 960, 960, vp));
    EXPECT_EQ(std::vector<int>(vp, vp + 4), (std::vector<int>{ 0, 210, 960, 540 }));
    ASSERT_TRUE(gl_wnd_viewport(640, 480, 1000, 480, vp));
    EXPECT_EQ(std::vector<int>(vp, vp + 4), (std::vector<int>{ 180, 0, 640, 480 }));
    ASSERT_TRUE(gl_wnd_viewport(320, 240, 320, 240, vp));
    EXPECT_EQ(std::vector<int>(vp, vp + 4), (std::vector<int>{ 0, 0, 320, 240 }));
    EXPECT_FALSE(gl_wnd_viewport(0, 240, 320, 240, vp));
    EXPECT_FALSE(gl_wnd_viewport(320, 240, 0, 0, vp));
}

TEST(VideoWindowProbe, AnswersNoOpenGLWithoutADisplay)
{
    const char *display = getenv("DISPLAY");
    std::string saved = display ? display : "";
    setenv("DISPLAY", ":4711", 1);
    EXPECT_EQ(glwin_probe(), 0);
    EXPECT_EQ(glwin_create("x", 10, 10), nullptr);
    if (display)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

TEST_F(VideoWindow, ShowsTheColoursOfAKnownPicture)
{
    feed.push(picture(320, 240, 0, { RED, GREEN, BLUE, WHITE }));
    ASSERT_NE(open(320, 240), nullptr);
    Shot s = shown(1);
    ASSERT_EQ(s.w, 320);
    ASSERT_EQ(s.h, 240);
    expectColour(s.at(80, 60), 255, 0, 0, "top left");
    expectColour(s.at(240, 60), 0, 255, 0, "top right");
    expectColour(s.at(80, 180), 0, 0, 255, "bottom left");
    expectColour(s.at(240, 180), 255, 255, 255, "bottom right");
    EXPECT_TRUE(gl_wnd_running(wnd));
}

TEST_F(VideoWindow, RowPaddingNeverShowsAndOddSizesKeepTheirLastColumn)
{
    // 161 x 121 with 19 bytes of padding on every row.
    feed.push(picture(161, 121, 19, { WHITE }));
    ASSERT_NE(open(161, 121), nullptr);
    Shot s = shown(1);
    ASSERT_EQ(s.w, 161);
    for (int y = 0; y < 121; y += 8) {
        expectColour(s.at(160, y), 255, 255, 255, "last column");
        expectColour(s.at(0, y), 255, 255, 255, "first column");
    }
    expectColour(s.at(80, 120), 255, 255, 255, "last row");
}

TEST_F(VideoWindow, WidePicturesAreLetterboxedAndFollowResizing)
{
    feed.push(picture(64, 36, 0, { BLUE }));
    ASSERT_NE(open(200, 200), nullptr);
    Shot s = shown(1);
    ASSERT_EQ(s.h, 200);
    // 64 x 36 in 200 x 200: drawn 200 x 112 from y = 44.
    expectColour(s.at(100, 20), 0, 0, 0, "band above");
    expectColour(s.at(100, 100), 0, 0, 255, "picture");
    expectColour(s.at(100, 180), 0, 0, 0, "band below");

    Display *dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    Window root, parent, *children = nullptr;
    unsigned n = 0;
    XQueryTree(dpy, DefaultRootWindow(dpy), &root, &parent, &children, &n);
    Window target = 0;
    for (unsigned i = 0; i < n; i++) {
        char *name = nullptr;
        if (XFetchName(dpy, children[i], &name) && name && std::string(name) == "test window")
            target = children[i];
        XFree(name);
    }
    XFree(children);
    ASSERT_NE(target, 0u);
    XResizeWindow(dpy, target, 400, 100);
    XFlush(dpy);
    Shot wide;
    simcam::SimCamera::waitFor([&] { return (wide = readBack(wnd)).w == 400; }, 20000);
    ASSERT_EQ(wide.w, 400);
    ASSERT_EQ(wide.h, 100);
    // 64 x 36 in 400 x 100: 177 wide, centred.
    expectColour(wide.at(50, 50), 0, 0, 0, "band left");
    expectColour(wide.at(200, 50), 0, 0, 255, "picture");
    expectColour(wide.at(350, 50), 0, 0, 0, "band right");

    // Escape closes the window; the handle stays until it is closed.
    XKeyEvent key{};
    key.type = KeyPress;
    key.display = dpy;
    key.window = target;
    key.root = DefaultRootWindow(dpy);
    key.keycode = XKeysymToKeycode(dpy, XK_Escape);
    key.same_screen = True;
    XSendEvent(dpy, target, True, KeyPressMask, reinterpret_cast<XEvent *>(&key));
    XFlush(dpy);
    XCloseDisplay(dpy);
    EXPECT_TRUE(simcam::SimCamera::waitFor([&] { return !gl_wnd_running(wnd); }, 20000));
}

TEST_F(VideoWindow, NewPicturesReplaceTheShownOneAndClosingReleasesEveryOne)
{
    ASSERT_NE(open(100, 100), nullptr);
    for (int i = 0; i < 5; i++) {
        feed.push(picture(100, 100, 4, { i % 2 ? RED : GREEN }));
        Shot s = shown(i + 1);
        if (i % 2)
            expectColour(s.at(50, 50), 255, 0, 0, "red");
        else
            expectColour(s.at(50, 50), 0, 255, 0, "green");
    }
    gl_wnd_close(wnd);
    wnd = nullptr;
    EXPECT_EQ(feed.taken, 5);
    EXPECT_EQ(feed.released, 5);
}

TEST_F(VideoWindow, PicturesThatCannotBeDrawnAreReleasedUnshown)
{
    ASSERT_NE(open(50, 50), nullptr);
    feed.push(picture(50, 50, 0, { GREEN }));
    shown(1);
    dec_frame *bad = picture(50, 50, 0, { RED });
    bad->stride[0] = 10; // shorter than a row
    feed.push(bad);
    Shot s = shown(2);
    expectColour(s.at(25, 25), 0, 255, 0, "the last good picture");
}

// ---- the window of a Lua host, showing a camera's decoded stream ----
namespace {

class WindowFromLua : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!gl_wnd_probe())
            GTEST_SKIP() << "no display with OpenGL here";
        ASSERT_EQ(trovix_init(""), 0);
        L = luaL_newstate();
        luaL_openlibs(L);
        luaL_requiref(L, "trovix", luaopen_trovix, 1);
        lua_pop(L, 1);
    }
    void TearDown() override
    {
        if (L)
            lua_close(L); // closes every window left open (__gc)
        trovix_quit();
    }
    std::string run(const std::string &code) { return trovixtest::luaRun(L, code); }
    gl_video_wnd *window(const char *global)
    {
        lua_getglobal(L, global);
        auto *h = static_cast<qv_gl_wnd_lua_t *>(luaL_testudata(L, -1, "qv_gl_wnd_meta"));
        lua_pop(L, 1);
        return h ? h->wnd : nullptr;
    }
    lua_State *L = nullptr;
};

} // namespace

TEST_F(WindowFromLua, DefaultsHandleAndArgumentChecks)
{
    EXPECT_EQ(run("w = trovix.open_wnd() return tostring(w)"), "qv_gl_wnd_meta");
    EXPECT_EQ(run("return w:is_run()"), "true");
    EXPECT_EQ(trovix_dec_open(100, nullptr), TROVIX_DECODER_STATE); // decoder 100 is the window's
    Shot s = readBack(window("w"));
    EXPECT_EQ(s.w, 960);
    EXPECT_EQ(s.h, 540);
    expectColour(s.at(480, 270), 0, 0, 0, "nothing bound yet");
    EXPECT_EQ(run("w:close() w:close() return w:is_run()"), "false");
    EXPECT_EQ(trovix_dec_open(100, nullptr), 0); // closed with the window
    EXPECT_EQ(trovix_dec_close(100), 0);
    std::string tooHigh = run("return trovix.open_wnd(16385)");
    EXPECT_NE(tooHigh.find("decoder id above 16384"), std::string::npos) << tooHigh;
    EXPECT_EQ(trovix_dec_open(100, nullptr), 0) << "decoder 100 was left alone";
    EXPECT_EQ(trovix_dec_close(100), 0);
    EXPECT_EQ(run("v = trovix.open_wnd(0, -5, 'x', 7) return v:is_run()"), "true");
    EXPECT_EQ(trovix_dec_open(100, nullptr), TROVIX_DECODER_STATE);
    Shot v = readBack(window("v"));
    EXPECT_EQ(v.w, 960);
    EXPECT_EQ(v.h, 540);
    std::string err = run("return getmetatable(v).is_run(42)");
    EXPECT_NE(err.find("'qv_gl_wnd_lua_t' expected"), std::string::npos) << err;
}

TEST_F(WindowFromLua, ShowsTheDecodedPicturesOfAStream)
{
    const std::string &clip = simcam::ffmpegH264Quadrants(320, 240, 30);
    ASSERT_FALSE(clip.empty());
    simcam::SimRtspServer cam;
    simcam::SimRtspServer::Options o;
    o.loops = -1;
    uint16_t port = cam.start(simcam::accessUnits(clip), o);
    std::string login = "{\"ip\":\"127.0.0.1\",\"port\":" + std::to_string(port) +
                        ",\"protocol\":\"rtsp\",\"path\":\"/live\",\"login\":{\"username\":\"admin\",\"passwd\":\"x\"}}";
    int id = 0;
    ASSERT_EQ(trovix_login(&id, login.c_str()), 0);
    EXPECT_EQ(run("w = trovix.open_wnd(9, 640, 480, 'camera') return w:bind(" + std::to_string(id) + ", 0, 0, 0)"),
              "true");
    gl_video_wnd *wnd = window("w");
    ASSERT_NE(wnd, nullptr);
    Shot s;
    simcam::SimCamera::waitFor(
        [&] {
            s = readBack(wnd);
            return s.w == 640 && s.at(160, 120)[0] > 200;
        },
        20000);
    ASSERT_EQ(s.w, 640);
    ASSERT_EQ(s.h, 480);
    expectColour(s.at(160, 120), 255, 0, 0, "top left");
    expectColour(s.at(480, 120), 0, 255, 0, "top right");
    expectColour(s.at(160, 360), 0, 0, 255, "bottom left");
    expectColour(s.at(480, 360), 255, 255, 255, "bottom right");
    EXPECT_EQ(run("return w:unbind()"), "true");
    EXPECT_EQ(run("w:close() return w:is_run()"), "false");
    EXPECT_EQ(trovix_logout(id), 0);
}
