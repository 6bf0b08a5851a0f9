#include "gl_shader_source.h"

#include <cstdio>
#include <cstring>

GlslVersion parseGlslVersion(const char *text)
{
    GlslVersion result;
    if (!text)
        return result;
    static const char esPrefix[] = "OpenGL ES GLSL ES ";
    const size_t prefixLength = sizeof(esPrefix) - 1;  // 18 characters
    if (std::strncmp(text, esPrefix, prefixLength) == 0) {
        text += prefixLength;
        result.es = true;
    }
    int major = 0;
    int minor = 0;
    if (std::sscanf(text, "%d.%d", &major, &minor) == 2 && major >= 1 && major < 100 && minor >= 0 && minor < 100) {
        result.version = major * 100 + minor;
        result.parsed = true;
    } else {
        result.es = false;
    }
    return result;
}

QByteArray shaderPreamble(ShaderKind kind, const GlslVersion &glsl)
{
    QByteArray text = "#version " + QByteArray::number(glsl.version);
    // GLSL ES 3.00 must name itself "es"; 1.00 is ES by definition.
    if (glsl.es && glsl.version >= 300)
        text += " es";
    text += "\n";
    if (glsl.es) {
        // ES has no default float precision in fragment shaders; highp is
        // guaranteed from ES 3.00 and needed for 1/255 steps of 4K texture
        // coordinates.
        if (kind == ShaderKind::Fragment)
            text += glsl.version >= 300 ? "precision highp float;\n" : "precision mediump float;\n";
    } else {
        // Desktop GLSL before 1.30 does not know the precision qualifiers.
        text += "#define highp\n#define mediump\n#define lowp\n";
    }
    if (kind == ShaderKind::Fragment)
        text += "#if __VERSION__ < 130\n#define texture texture2D\n#else\n#define texture2D texture\n#endif // < 130\n";
    if (glsl.version >= 130 && !(glsl.es && glsl.version < 300)) {
        if (kind == ShaderKind::Vertex)
            text += "#define attribute in\n#define varying out\n";
        else
            text += "#define varying in\n#define gl_FragColor out_color\nout vec4 gl_FragColor;\n";
    }
    return text;
}

const char *const kLiveViewVertexBody =
    "attribute vec3 a_Position;\n"
    "attribute vec2 a_TexCoords;\n"
    "varying vec2 v_TexCoords;\n"
    "void main()\n"
    "{\n"
    "    gl_Position = vec4(a_Position, 1.0);\n"
    "    v_TexCoords = a_TexCoords;\n"
    "}\n";

// ITU-R BT.601, limited range: Y in 16..235, Cb/Cr in 16..240 around 128.
const char *const kLiveViewI420FragmentBody =
    "varying vec2 v_TexCoords;\n"
    "uniform sampler2D u_Texture0;\n"
    "uniform sampler2D u_Texture1;\n"
    "uniform sampler2D u_Texture2;\n"
    "void main()\n"
    "{\n"
    "    float y = texture(u_Texture0, v_TexCoords).r - 0.063;\n"
    "    float u = texture(u_Texture1, v_TexCoords).r - 0.5;\n"
    "    float v = texture(u_Texture2, v_TexCoords).r - 0.5;\n"
    "    float r = 1.164 * y + 1.596 * v;\n"
    "    float g = 1.164 * y - 0.392 * u - 0.813 * v;\n"
    "    float b = 1.164 * y + 2.017 * u;\n"
    "    gl_FragColor = vec4(r, g, b, 1.0);\n"
    "}\n";
