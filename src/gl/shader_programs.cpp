#include "gl/shader_programs.h"

#include <cstdio>
#include <string>
#include <vector>

#include "gl/drawing_settings.h"
#include "gl/gl_api.h"
#include "gl/gl_support.h"
#include "gl/glew_contexts.h"
#include "gl/opengl_drawing.h"
#include "runtime/report.h"

namespace {

struct AvailableProgram {
  ShaderProgramVersion* versions;
  int count;
};

ShaderSupport Support{SHADER_TYPE_NONE, 0, {-1, -1, -1}};
std::vector<AvailableProgram> Available;
std::vector<ShaderProgramVersion*> Selected;  // by program name
ShaderProgramVersion* Active = nullptr;

ShaderSource GammaFragmentShader = {
    GL_FRAGMENT_SHADER,
    "uniform sampler2D tex;uniform vec4 GammaCorrection;void main()\n{\tvec4 color = texture2D(tex, "
    "gl_TexCoord[0].st);\tgl_FragColor = pow(color, GammaCorrection);}",
    1, 0};

ShaderProgramVersion GammaVersions[2] = {
    {PROXY_GAMMA_PROGRAM, SHADER_TYPE_GLSL, {1, 10, 0}, {-1, -1, -1}, {nullptr, nullptr},
     {&GammaFragmentShader, nullptr}, {0, 0}, 0, 0, false, 0},
    {PROXY_GAMMA_PROGRAM, SHADER_TYPE_ARB, {1, 10, 0}, {-1, -1, -1}, {nullptr, nullptr},
     {&GammaFragmentShader, nullptr}, {0, 0}, 0, 0, false, 0},
};

const char* ShaderTypeName(uint32_t type) {
  if (type == GL_VERTEX_SHADER || type == GL_VERTEX_PROGRAM_ARB) return "Vertex Shader";
  if (type == GL_FRAGMENT_SHADER || type == GL_FRAGMENT_PROGRAM_ARB) return "Fragment Shader";
  return "Unknown Shader Type";
}

bool GLFailed() { return glGetError() != GL_NO_ERROR; }

// One comparison direction of the version test: at least (sign 1) or at
// most (sign -1) the bound, major first; a -1 component ends it satisfied.
bool WithinBound(const GLSLVersion& v, const int32_t bound[3], int sign) {
  const int32_t parts[3] = {v.major, v.minor, v.patch};
  for (int i = 0; i < 3; ++i) {
    if (bound[i] == -1) return true;
    if (parts[i] != bound[i]) return sign * (parts[i] - bound[i]) > 0;
  }
  return true;
}

// --- GLSL (OpenGL 2.0) -------------------------------------------------------

bool CreateShaderGLSL(ShaderSource* source) {
  const char* typeName = ShaderTypeName(source->shaderType);
  GLuint shader = glCreateShader(source->shaderType);
  if (shader == 0) {
    CHECK_OPENGL_ERROR("CreateShaderGLSL() - Failed to create %s program object.", typeName);
    return false;
  }
  glShaderSource(shader, source->count, &source->source, nullptr);
  if (CHECK_OPENGL_ERROR("CreateShaderGLSL() - Failed to load %s source for shader ID %d.", typeName,
                         static_cast<int>(shader)) != 0) {
    glDeleteShader(shader);
    return false;
  }
  glCompileShader(shader);
  GLint status = 0, logLength = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
  glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &logLength);
  if (CHECK_OPENGL_ERROR("CreateShaderGLSL() - Could not get %s compilation status for shader ID %d.", typeName,
                         static_cast<int>(shader)) != 0) {
    glDeleteShader(shader);
    return false;
  }
  std::string log;
  if (logLength > 0) {
    log.assign(static_cast<size_t>(logLength), '\0');
    glGetShaderInfoLog(shader, logLength, nullptr, &log[0]);
    log.resize(log.find('\0') == std::string::npos ? log.size() : log.find('\0'));
  }
  if (status != 1) {
    REPORT_DEBUG("CreateShaderGLSL() - %s failed to compile. Shader ID = %u.\nShader compilation Log: %s", typeName,
                 shader, log.c_str());
    glDeleteShader(shader);
    return false;
  }
  source->shader = shader;
  return true;
}

bool CreateShaderProgramGLSL(ShaderProgramVersion* version) {
  version->program = glCreateProgram();
  if (version->program == 0) {
    REPORT_DEBUG("CreateShaderProgramGLSL() failed to create shader program %d", version->programName);
    return false;
  }
  for (int stage = 0; stage < 2; ++stage) {
    ShaderSource* const* slots = stage == 0 ? version->vertexShaders : version->fragmentShaders;
    for (int i = 0; i < 2; ++i) {
      if (slots[i] == nullptr) continue;
      if (!CreateShaderGLSL(slots[i])) return false;
      glAttachShader(version->program, slots[i]->shader);
      if (GLFailed()) {
        REPORT_DEBUG(stage == 0 ? "CreateShaderProgramGLSL() failed to attach vertex shader %d to shader program %d"
                                : "CreateShaderProgramGLSL() failed to attach fragment shader %d to shader program %d",
                     i, version->programName);
        return false;
      }
    }
  }
  glLinkProgram(version->program);
  if (GLFailed()) {
    REPORT_DEBUG("CreateShaderProgramGLSL() failed to link shader program %d", version->programName);
    return false;
  }
  GLint status = 0, logLength = 0;
  glGetProgramiv(version->program, GL_LINK_STATUS, &status);
  glGetProgramiv(version->program, GL_INFO_LOG_LENGTH, &logLength);
  if (GLFailed()) {
    REPORT_DEBUG("CreateShaderProgramGLSL() Could not obtain link status for shader program %d", version->programName);
    return false;
  }
  if (status != 1) {
    std::string log(static_cast<size_t>(logLength > 0 ? logLength : 1), '\0');
    if (logLength > 0) glGetProgramInfoLog(version->program, logLength, nullptr, &log[0]);
    REPORT_DEBUG("CreateShaderProgramGLSL() - GLSL Shader Program %d, version %d failed to link. Program ID = %u.\n"
                 "Program link log: %s",
                 version->programName, version->versionNumber, version->program, log.c_str());
    return false;
  }
  return true;
}

// --- ARB shader objects ------------------------------------------------------

bool CreateShaderARB(ShaderSource* source) {
  const char* typeName = ShaderTypeName(source->shaderType);
  GLhandleARB shader = glCreateShaderObjectARB(source->shaderType);
  if (shader == 0) {
    CHECK_OPENGL_ERROR("CreateShaderARB() - Failed to create %s program object.", typeName);
    return false;
  }
  glShaderSourceARB(shader, source->count, &source->source, nullptr);
  if (CHECK_OPENGL_ERROR("CreateShaderARB() - Failed to load %s source for shader ID %d.", typeName,
                         static_cast<int>(shader)) != 0) {
    glDeleteObjectARB(shader);
    return false;
  }
  glCompileShaderARB(shader);
  GLint status = 0, logLength = 0;
  glGetObjectParameterivARB(shader, GL_OBJECT_COMPILE_STATUS_ARB, &status);
  glGetObjectParameterivARB(shader, GL_OBJECT_INFO_LOG_LENGTH_ARB, &logLength);
  if (CHECK_OPENGL_ERROR("CreateShaderARB() - Could not get %s compilation status for shader ID %d.", typeName,
                         static_cast<int>(shader)) != 0) {
    glDeleteObjectARB(shader);
    return false;
  }
  std::string log;
  if (logLength > 0) {
    log.assign(static_cast<size_t>(logLength), '\0');
    glGetInfoLogARB(shader, logLength, nullptr, &log[0]);
    log.resize(log.find('\0') == std::string::npos ? log.size() : log.find('\0'));
  }
  if (status != 1) {
    REPORT_DEBUG("CreateShaderARB() - %s failed to compile. Shader ID = %u.\nShader compilation Log: %s", typeName,
                 static_cast<unsigned>(shader), log.c_str());
    glDeleteObjectARB(shader);
    return false;
  }
  source->shader = static_cast<uint32_t>(shader);
  return true;
}

bool CreateShaderProgramARB(ShaderProgramVersion* version) {
  GLhandleARB program = glCreateProgramObjectARB();
  version->programHandle = static_cast<uint32_t>(program);
  if (program == 0) {
    REPORT_DEBUG("CreateShaderProgramARB() failed to create shader program %d", version->programName);
    return false;
  }
  for (int stage = 0; stage < 2; ++stage) {
    ShaderSource* const* slots = stage == 0 ? version->vertexShaders : version->fragmentShaders;
    for (int i = 0; i < 2; ++i) {
      if (slots[i] == nullptr) continue;
      if (!CreateShaderARB(slots[i])) return false;
      glAttachObjectARB(program, slots[i]->shader);
      if (GLFailed()) {
        REPORT_DEBUG(stage == 0 ? "CreateShaderProgramARB() failed to attach vertex shader %d to shader program %d"
                                : "CreateShaderProgramARB() failed to attach fragment shader %d to shader program %d",
                     i, version->programName);
        return false;
      }
    }
  }
  glLinkProgramARB(program);
  GLint status = 0, logLength = 0;
  glGetObjectParameterivARB(program, GL_OBJECT_LINK_STATUS_ARB, &status);
  glGetObjectParameterivARB(program, GL_OBJECT_INFO_LOG_LENGTH_ARB, &logLength);
  if (GLFailed()) {
    REPORT_DEBUG("CreateShaderProgramARB() Could not obtain link status for shader program %d", version->programName);
    return false;
  }
  if (status != 1) {
    std::string log(static_cast<size_t>(logLength > 0 ? logLength : 1), '\0');
    if (logLength > 0) glGetInfoLogARB(program, logLength, nullptr, &log[0]);
    REPORT_DEBUG("CreateShaderProgramARB() - EXT Shader Program %d, version %d failed to link. Program Handle = %u.\n"
                 "Program link log: %s",
                 version->programName, version->versionNumber, version->programHandle, log.c_str());
    return false;
  }
  return true;
}

void DeleteShaderList(ShaderSource* const* slots, bool arb) {
  for (int i = 0; i < 2; ++i) {
    if (slots[i] == nullptr || slots[i]->shader == 0) continue;
    if (arb)
      glDeleteObjectARB(slots[i]->shader);
    else
      glDeleteShader(slots[i]->shader);
    slots[i]->shader = 0;
  }
}

}  // namespace

bool ParseGLSLVersionText(const char* text, GLSLVersion* version) {
  int major = -1, minor = -1, patch = -1;
  const int fields = text != nullptr ? std::sscanf(text, "%d.%d.%d ", &major, &minor, &patch) : 0;
  if (fields < 2) {
    *version = GLSLVersion{-1, -1, -1};
    return false;
  }
  if (fields == 2) patch = 0;
  // Some drivers report their first GLSL as "1.51": it is the 1.0 language.
  if (major == 1 && minor == 51) {
    minor = 0;
    patch = 0;
  }
  *version = GLSLVersion{major, minor, patch};
  return true;
}

bool GLSLVersionFits(const GLSLVersion& version, const int32_t minVersion[3], const int32_t maxVersion[3]) {
  if (version.major == -1) return false;
  if (minVersion[0] != -1 && !WithinBound(version, minVersion, 1)) return false;
  if (maxVersion[0] != -1 && !WithinBound(version, maxVersion, -1)) return false;
  return true;
}

int SelectShaderVersion(const ShaderProgramVersion* versions, int count, const ShaderSupport& support) {
  if (support.type == SHADER_TYPE_NONE || support.stageMask == 0) return -1;
  for (int i = 0; i < count; ++i) {
    const ShaderProgramVersion& v = versions[i];
    const bool vertex = v.vertexShaders[0] != nullptr || v.vertexShaders[1] != nullptr;
    const bool fragment = v.fragmentShaders[0] != nullptr || v.fragmentShaders[1] != nullptr;
    if (v.extensionType == support.type && GLSLVersionFits(support.version, v.minVersion, v.maxVersion) &&
        (!vertex || (support.stageMask & SHADER_STAGE_VERTEX) != 0) &&
        (!fragment || (support.stageMask & SHADER_STAGE_FRAGMENT) != 0))
      return i;
  }
  return -1;
}

int32_t ShaderTypeFor(int32_t mode, bool accelerated, const OpenGLCapabilities& caps) {
  if (mode == OPTIMIZE_FOR_COMPATIBILITY || mode == OPTIMIZE_NONE || !accelerated) return SHADER_TYPE_NONE;
  if (caps.version2_0) return SHADER_TYPE_GLSL;
  if (caps.version1_5 && caps.arbShadingLanguage100 && caps.arbShaderObjects && caps.arbVertexShader &&
      caps.arbFragmentShader)
    return SHADER_TYPE_ARB;
  return SHADER_TYPE_NONE;
}

bool GetSupportedGLSLVersion() {
  const char* versionText = OpenGLString(GL_SHADING_LANGUAGE_VERSION);
  const GLenum error = glGetError();
  if (error != GL_NO_ERROR) {
    const GLEWContext* context = glewGetContext();
    if (error == GL_INVALID_ENUM && context != nullptr && context->capabilities.arbShadingLanguage100 &&
        !context->capabilities.version2_0) {
      // The extension's first language predates the version string.
      Support.version = GLSLVersion{1, 0, 0};
      return true;
    }
    Support.version = GLSLVersion{-1, -1, -1};
    REPORT_DEBUG("GetSupportedGLSLVersion() Failed to get GLSL version string. OpenGL Error = %d.",
                 static_cast<int>(error));
    return false;
  }
  if (!ParseGLSLVersionText(versionText, &Support.version)) {
    REPORT_DEBUG("GetSupportedGLSLVersion() Failed to parse GLSL extension version information '%s'.",
                 versionText != nullptr ? versionText : "");
    return false;
  }
  return true;
}

bool GetShaderSupport() {
  Support = ShaderSupport{SHADER_TYPE_NONE, 0, {-1, -1, -1}};
  const GLEWContext* context = glewGetContext();
  if (context == nullptr) return false;
  const int32_t type =
      ShaderTypeFor(GlobalOpenGLSettings().drawingMode, DrawingState().gpuAcceleration, context->capabilities);
  if (type == SHADER_TYPE_NONE || !GetSupportedGLSLVersion()) return false;
  Support.type = type;
  Support.stageMask = SHADER_STAGE_VERTEX | SHADER_STAGE_FRAGMENT;
  return true;
}

const ShaderSupport& CurrentShaderSupport() { return Support; }
void OverrideShaderSupport(const ShaderSupport& support) { Support = support; }

ShaderProgramVersion* ProxyGammaProgramVersions(int* count) {
  *count = 2;
  return GammaVersions;
}

bool AddShaderProgram(ShaderProgramVersion* versions, int count) {
  if (versions == nullptr || count <= 0) return false;
  try {
    Available.push_back(AvailableProgram{versions, count});
  } catch (...) {
    REPORT_DEBUG("AddShaderProgram() - Failed to create a new available program list.");
    return false;
  }
  for (int i = 0; i < count; ++i) versions[i].versionNumber = i + 1;
  const int32_t name = versions[0].programName;
  if (name < 0) return false;
  if (static_cast<size_t>(name) >= Selected.size()) {
    try {
      Selected.resize(static_cast<size_t>(name) + 1, nullptr);
    } catch (...) {
      REPORT_DEBUG("AddShaderProgram() - Failed to create a new selected version list.");
      return false;
    }
  }
  const int index = SelectShaderVersion(versions, count, Support);
  Selected[static_cast<size_t>(name)] = index >= 0 ? &versions[index] : nullptr;
  return index >= 0;
}

const ShaderProgramVersion* SelectedShaderVersion(int32_t programName) {
  if (programName < 0 || static_cast<size_t>(programName) >= Selected.size()) return nullptr;
  return Selected[static_cast<size_t>(programName)];
}

bool CreateShaderProgram() {
  ShaderProgramVersion* version = const_cast<ShaderProgramVersion*>(SelectedShaderVersion(PROXY_GAMMA_PROGRAM));
  if (version == nullptr) return false;
  bool made = false;
  switch (version->extensionType) {
    case SHADER_TYPE_NONE: made = false; break;
    case SHADER_TYPE_GLSL: made = CreateShaderProgramGLSL(version); break;
    case SHADER_TYPE_ARB: made = CreateShaderProgramARB(version); break;
    default: REPORT_DEBUG("CreateShaderProgram() - Extension type %d is not recognized.", version->extensionType);
  }
  if (made) {
    version->created = true;
  } else if (version->extensionType == SHADER_TYPE_GLSL || version->extensionType == SHADER_TYPE_ARB) {
    DestroyShaderProgram(version);
  }
  if (CHECK_OPENGL_ERROR("CreateShaderProgram() - Failed to create shader program %d.", PROXY_GAMMA_PROGRAM) != 0)
    return false;
  return made;
}

bool BindActiveShaderProgram() {
  if (Active == nullptr) return false;
  switch (Support.type) {
    case SHADER_TYPE_NONE:
      REPORT_DEBUG("BindActiveShaderProgram() - No shader support is available.");
      return false;
    case SHADER_TYPE_GLSL:
      glUseProgram(Active->program);
      if (GLFailed()) {
        REPORT_DEBUG("BindActiveShaderProgram() - Could not enable GLSL shader program %d.", Active->programName);
        return false;
      }
      break;
    case SHADER_TYPE_ARB:
      glUseProgramObjectARB(Active->programHandle);
      if (GLFailed()) {
        REPORT_DEBUG("BindActiveShaderProgram() - Could not enable ARB shader program %d.", Active->programName);
        return false;
      }
      break;
    default:
      REPORT_DEBUG("UnBindActiveShaderProgram() - Shader extension type %d is not recognized.", Support.type);
      return false;
  }
  return CHECK_OPENGL_ERROR("BindActiveShaderProgram() - Failed to enable active shader program.") == 0;
}

bool UnBindActiveShaderProgram() {
  switch (Support.type) {
    case SHADER_TYPE_NONE:
      REPORT_DEBUG("UnBindActiveShaderProgram() - No shader support is available.");
      return false;
    case SHADER_TYPE_GLSL:
      glUseProgram(0);
      if (GLFailed()) {
        REPORT_DEBUG("BindActiveShaderProgram() - Could not disable active GLSL shader program.");
        return false;
      }
      return true;
    case SHADER_TYPE_ARB:
      glUseProgramObjectARB(0);
      if (GLFailed()) {
        REPORT_DEBUG("BindActiveShaderProgram() - Could not unbind active ARB shader program.");
        return false;
      }
      return true;
    default:
      REPORT_DEBUG("UnBindActiveShaderProgram() - Shader extension type %d is not recognized.", Support.type);
      return false;
  }
}

bool MakeShaderProgramActive(int32_t programName) {
  bool result = false;
  if (programName == 0) {
    result = Active == nullptr || UnBindActiveShaderProgram();
    Active = nullptr;
  } else {
    ShaderProgramVersion* version = const_cast<ShaderProgramVersion*>(SelectedShaderVersion(programName));
    if (version == nullptr) {
      REPORT_DEBUG("MakeShaderProgramActive() - Shader Program Name %d is not recognized.", programName);
    } else if (version->created) {
      Active = version;
      result = BindActiveShaderProgram();
      if (!result) Active = nullptr;
    }
  }
  if (CHECK_OPENGL_ERROR("MakeShaderProgramActive() - Failed to activeate shader program %d.", programName) != 0)
    return false;
  return result;
}

bool SetProxyShaderGamma(float gamma) {
  if (Active == nullptr || Active != SelectedShaderVersion(PROXY_GAMMA_PROGRAM)) return false;
  bool set = false;
  switch (Support.type) {
    case SHADER_TYPE_NONE: REPORT_DEBUG("SetProxyShaderGamma() - An invalid shader extension type was found."); break;
    case SHADER_TYPE_GLSL: {
      GLint location = glGetUniformLocation(Active->program, "GammaCorrection");
      if (location == -1) {
        REPORT_DEBUG("SetProxyShaderGamma() - An invalid variable name was specified.");
      } else {
        glUniform4f(location, gamma, gamma, gamma, 1.0f);
        set = true;
      }
      break;
    }
    case SHADER_TYPE_ARB: {
      GLint location = glGetUniformLocationARB(Active->programHandle, "GammaCorrection");
      if (location == -1) {
        REPORT_DEBUG("SetProxyShaderGamma() - An invalid variable name was specified.");
      } else {
        glUniform4fARB(location, gamma, gamma, gamma, 1.0f);
        set = true;
      }
      break;
    }
    default: REPORT_DEBUG("SetProxyShaderGamma() - Shader extension type %d is not recognized.", Support.type);
  }
  return CHECK_OPENGL_ERROR("SetProxyShaderGamma() - Failed to set Gamma Correction value.") == 0 && set;
}

void DestroyShaderProgram(ShaderProgramVersion* version) {
  switch (version->extensionType) {
    case SHADER_TYPE_NONE:
      REPORT_DEBUG("DestroyShaderProgram() - Extension type SHADER_TYPE_NONE is not valid for this function.");
      return;
    case SHADER_TYPE_GLSL: {
      if (version->program != 0) {
        GLint current = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &current);
        if (static_cast<GLuint>(current) == version->program) {
          glUseProgram(0);
          Active = nullptr;
        }
        glDeleteProgram(version->program);
        version->program = 0;
      }
      DeleteShaderList(version->vertexShaders, false);
      DeleteShaderList(version->fragmentShaders, false);
      CHECK_OPENGL_ERROR("DestroyShaderListGLSL() - Failed to destroy GLSL shader list.");
      break;
    }
    case SHADER_TYPE_ARB: {
      if (version->programHandle != 0) {
        if (glGetHandleARB(GL_PROGRAM_OBJECT_ARB) == version->programHandle) {
          glUseProgramObjectARB(0);
          Active = nullptr;
        }
        glDeleteObjectARB(version->programHandle);
        version->programHandle = 0;
      }
      DeleteShaderList(version->vertexShaders, true);
      DeleteShaderList(version->fragmentShaders, true);
      CHECK_OPENGL_ERROR("DestroyShaderListARB() - Failed to destroy EXT shader list.");
      break;
    }
    default:
      REPORT_DEBUG("DestroyShaderProgram() - Extension type %d is not recognized.", version->extensionType);
      return;
  }
  version->created = false;
  if (Active == version) Active = nullptr;
  CHECK_OPENGL_ERROR("DestroyShaderProgram() - Failed to destroy shader program.");
}

void DestroyShaderPrograms() {
  for (const AvailableProgram& p : Available)
    for (int i = 0; i < p.count; ++i)
      if (p.versions[i].program != 0 || p.versions[i].programHandle != 0 || p.versions[i].created)
        DestroyShaderProgram(&p.versions[i]);
  Available.clear();
  Available.shrink_to_fit();
  Selected.clear();
  Selected.shrink_to_fit();
  Active = nullptr;
}
