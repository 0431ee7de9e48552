#pragma once
// Shader programs of the preview: which shading-language path the context
// offers (OpenGL 2.0 GLSL, the ARB shader-object extensions, or none), a
// registry of programs each written in several versions, the selection of
// the first version the context can run, compiling and linking on demand,
// binding, and the gamma uniform of the proxy gamma program.
//
// Only the thread that owns the preview's context calls this; nothing here
// is locked. No failure stops the preview: without a linked gamma program
// the composite is drawn unshaded and corrected in software.
#include <cstdint>

#include "gl/capabilities.h"

enum ShaderExtensionType : int32_t {
  SHADER_TYPE_NONE = 0,
  SHADER_TYPE_GLSL = 1,  // OpenGL 2.0 entry points
  SHADER_TYPE_ARB = 2,   // ARB_shader_objects and friends ("EXT" programs in the log)
};

constexpr uint32_t SHADER_STAGE_VERTEX = 1;
constexpr uint32_t SHADER_STAGE_FRAGMENT = 2;

constexpr int32_t PROXY_GAMMA_PROGRAM = 1;

struct GLSLVersion {
  int32_t major;  // -1: unknown
  int32_t minor;
  int32_t patch;
};

struct ShaderSource {
  uint32_t shaderType;  // GL_VERTEX_SHADER or GL_FRAGMENT_SHADER
  const char* source;
  int32_t count;
  uint32_t shader;  // object or handle while compiled, else 0
};

struct ShaderProgramVersion {
  int32_t programName;
  int32_t extensionType;
  int32_t minVersion[3];  // -1: no bound from that component on
  int32_t maxVersion[3];
  ShaderSource* vertexShaders[2];
  ShaderSource* fragmentShaders[2];
  int32_t reserved[2];
  uint32_t program;        // GLSL program object
  uint32_t programHandle;  // ARB program handle
  bool created;
  int32_t versionNumber;  // 1-based within its program, set when added
};

struct ShaderSupport {
  int32_t type;
  uint32_t stageMask;
  GLSLVersion version;
};

// Pure pieces of the decisions, tested without a context.
// "%d.%d.%d": two or three fields; "1.51" reads as 1.0.0.
bool ParseGLSLVersionText(const char* text, GLSLVersion* version);
bool GLSLVersionFits(const GLSLVersion& version, const int32_t minVersion[3], const int32_t maxVersion[3]);
// The first fitting version's index, -1 when none.
int SelectShaderVersion(const ShaderProgramVersion* versions, int count, const ShaderSupport& support);
// The path the mode, acceleration and version allow before the GLSL version
// is known: weak contexts none, OpenGL 2.0 GLSL, OpenGL 1.5 with the four ARB
// extensions ARB, else none.
int32_t ShaderTypeFor(int32_t mode, bool accelerated, const OpenGLCapabilities& caps);

// On the current context.
bool GetShaderSupport();
bool GetSupportedGLSLVersion();
const ShaderSupport& CurrentShaderSupport();
// Replaces what GetShaderSupport found, for a context whose driver lies
// about itself, and for tests of each path on one machine.
void OverrideShaderSupport(const ShaderSupport& support);

bool AddShaderProgram(ShaderProgramVersion* versions, int count);
// The proxy gamma program's two versions (GLSL, ARB), registered by AddShaderProgram.
ShaderProgramVersion* ProxyGammaProgramVersions(int* count);
bool CreateShaderProgram();
bool MakeShaderProgramActive(int32_t programName);
bool BindActiveShaderProgram();
bool UnBindActiveShaderProgram();
bool SetProxyShaderGamma(float gamma);
// The selected version of a name, null when none.
const ShaderProgramVersion* SelectedShaderVersion(int32_t programName);
void DestroyShaderProgram(ShaderProgramVersion* version);
void DestroyShaderPrograms();
