/*
 * The window's YUV renderer: three luminance textures (Y, U, V), one shader
 * program that turns them into RGB, and a quad over the viewport.
 */
#include "gl_wnd.h"

#include <epoxy/gl.h>
#include <stdio.h>
#include <stdlib.h>

static const char *vertex_src = "attribute vec4 vertex_screen;\n"
                                "attribute vec2 vertex_tex;\n"
                                "varying vec2 texture_pos;\n"
                                "void main(void)\n"
                                "{\n"
                                "gl_Position = vertex_screen;\n"
                                "texture_pos = vertex_tex;\n"
                                "}\n";

/* Decoded H.264 pictures are video range (BT.601: Y 16..235, U and V
 * 16..240), so the levels are expanded before the conversion. */
static const char *fragment_src = "varying vec2 texture_pos;\n"
                                  "uniform sampler2D tex_y;\n"
                                  "uniform sampler2D tex_u;\n"
                                  "uniform sampler2D tex_v;\n"
                                  "void main(void)\n"
                                  "{\n"
                                  "vec3 yuv;\n"
                                  "yuv.x = 1.164383 * (texture2D(tex_y, texture_pos).x - 0.062745);\n"
                                  "yuv.y = 1.138393 * (texture2D(tex_u, texture_pos).x - 0.501961);\n"
                                  "yuv.z = 1.138393 * (texture2D(tex_v, texture_pos).x - 0.501961);\n"
                                  "vec3 rgb = mat3(1.0, 1.0, 1.0, 0.0, -0.344136, 1.772, 1.402, -0.714136, 0.0) * yuv;\n"
                                  "gl_FragColor = vec4(rgb, 1.0);\n"
                                  "}\n";

/* Texture coordinates, then positions, two floats per vertex. */
static const GLfloat quad[16] = { 0, 1, 1, 1, 0, 0, 1, 0, -1, -1, 1, -1, -1, 1, 1, 1 };

struct gl_yuv_renderer {
    GLuint program;
    GLint sampler[3];
    GLint attr_screen;
    GLint attr_tex;
    GLuint buffer;
    GLuint tex[3];
    int tex_w[3];
    int tex_h[3];
};

static GLuint compile(GLenum type, const char *src)
{
    GLuint s = glCreateShader(type);
    GLint ok = 0;
    glShaderSource(s, 1, &src, NULL);
    glCompileShader(s);
    glGetShaderiv(s, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        char log[1024];
        glGetShaderInfoLog(s, sizeof log, NULL, log);
        fprintf(stderr, "qv_gl_wnd: shader: %s\n", log);
        glDeleteShader(s);
        return 0;
    }
    return s;
}

static GLuint link_program(void)
{
    GLuint vs = compile(GL_VERTEX_SHADER, vertex_src);
    GLuint fs = compile(GL_FRAGMENT_SHADER, fragment_src);
    GLuint p = 0;
    GLint ok = 0;
    if (vs && fs) {
        p = glCreateProgram();
        glAttachShader(p, vs);
        glAttachShader(p, fs);
        glLinkProgram(p);
        glGetProgramiv(p, GL_LINK_STATUS, &ok);
        if (!ok) {
            char log[1024];
            glGetProgramInfoLog(p, sizeof log, NULL, log);
            fprintf(stderr, "qv_gl_wnd: program: %s\n", log);
            glDeleteProgram(p);
            p = 0;
        }
    }
    if (vs)
        glDeleteShader(vs);
    if (fs)
        glDeleteShader(fs);
    return p;
}

gl_yuv_renderer *gl_yuv_create(void)
{
    gl_yuv_renderer *r = (gl_yuv_renderer *)calloc(1, sizeof *r);
    int i;
    if (!r)
        return NULL;
    r->program = link_program();
    if (r->program) {
        r->sampler[0] = glGetUniformLocation(r->program, "tex_y");
        r->sampler[1] = glGetUniformLocation(r->program, "tex_u");
        r->sampler[2] = glGetUniformLocation(r->program, "tex_v");
        r->attr_screen = glGetAttribLocation(r->program, "vertex_screen");
        r->attr_tex = glGetAttribLocation(r->program, "vertex_tex");
    }
    glGenTextures(3, r->tex);
    for (i = 0; i < 3; i++) {
        glBindTexture(GL_TEXTURE_2D, r->tex[i]);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }
    glGenBuffers(1, &r->buffer);
    glBindBuffer(GL_ARRAY_BUFFER, r->buffer);
    glBufferData(GL_ARRAY_BUFFER, sizeof quad, quad, GL_STATIC_DRAW);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return r;
}

int gl_yuv_has_program(const gl_yuv_renderer *r) { return r && r->program != 0; }

/* Size of plane i of a 4:2:0 picture; the chroma planes round up, so an odd
 * width or height keeps its last column and row. */
static void plane_size(const dec_frame *f, int i, int *w, int *h)
{
    *w = i == 0 ? f->width : (f->width + 1) / 2;
    *h = i == 0 ? f->height : (f->height + 1) / 2;
}

static void upload(gl_yuv_renderer *r, const dec_frame *f)
{
    int i;
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    for (i = 0; i < 3; i++) {
        int w, h;
        plane_size(f, i, &w, &h);
        glActiveTexture(GL_TEXTURE0 + (GLenum)i);
        glBindTexture(GL_TEXTURE_2D, r->tex[i]);
        /* The texture is as wide as the picture; the stride only says where
         * the next row starts. */
        glPixelStorei(GL_UNPACK_ROW_LENGTH, f->stride[i]);
        if (r->tex_w[i] != w || r->tex_h[i] != h) {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_LUMINANCE, w, h, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, NULL);
            r->tex_w[i] = w;
            r->tex_h[i] = h;
        }
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, w, h, GL_LUMINANCE, GL_UNSIGNED_BYTE, f->data[i]);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void gl_yuv_draw(gl_yuv_renderer *r, const dec_frame *f, int fresh)
{
    int i;
    if (!r || !f || !r->program)
        return;
    if (fresh)
        upload(r, f);
    glUseProgram(r->program);
    glBindBuffer(GL_ARRAY_BUFFER, r->buffer);
    glEnableVertexAttribArray((GLuint)r->attr_screen);
    glVertexAttribPointer((GLuint)r->attr_screen, 2, GL_FLOAT, GL_FALSE, 8, (const void *)(uintptr_t)32);
    glEnableVertexAttribArray((GLuint)r->attr_tex);
    glVertexAttribPointer((GLuint)r->attr_tex, 2, GL_FLOAT, GL_FALSE, 8, (const void *)0);
    for (i = 0; i < 3; i++) {
        glActiveTexture(GL_TEXTURE0 + (GLenum)i);
        glBindTexture(GL_TEXTURE_2D, r->tex[i]);
        glUniform1i(r->sampler[i], i);
    }
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    glDisableVertexAttribArray((GLuint)r->attr_screen);
    glDisableVertexAttribArray((GLuint)r->attr_tex);
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    glUseProgram(0);
}

void gl_yuv_free(gl_yuv_renderer *r)
{
    if (!r)
        return;
    glDeleteTextures(3, r->tex);
    glDeleteBuffers(1, &r->buffer);
    if (r->program)
        glDeleteProgram(r->program);
    free(r);
}
