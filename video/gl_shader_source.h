// GLSL source text for the live view: version detection and the preamble that
// lets one shader body compile on desktop GLSL 1.10 to 4.60 and on OpenGL ES
// GLSL 1.00 and 3.00. Pure functions; no GL context needed.
#pragma once

#include <QByteArray>

enum class ShaderKind { Vertex = 1, Fragment = 2 };

struct GlslVersion
{
    int version = 110;  // major * 100 + minor: "4.50" gives 450
    bool es = false;    // OpenGL ES shading language
    bool parsed = false;  // false: the text could not be read, version is the 110 fallback
};

// Reads a GL_SHADING_LANGUAGE_VERSION string ("4.50 NVIDIA ...",
// "OpenGL ES GLSL ES 3.00 Mesa ..."). A null or unreadable text gives 110.
GlslVersion parseGlslVersion(const char *text);

// The lines put in front of a shader body: #version, the precision words and
// the names that changed between GLSL generations (attribute/varying/texture2D
// against in/out/texture).
QByteArray shaderPreamble(ShaderKind kind, const GlslVersion &glsl);

// Shader bodies of the live view. The fragment body converts limited-range
// BT.601 YUV to RGB.
extern const char *const kLiveViewVertexBody;
extern const char *const kLiveViewI420FragmentBody;
