#pragma once
// What one OpenGL context offers, in the terms the drawing decisions use:
// the version the implementation reports (each flag means "at least") and
// the extensions it lists. Filled from GLEW right after its initialisation
// for the context, and kept with that context's GLEW descriptor, so that a
// later context of another kind cannot change what an earlier one reads.
struct OpenGLCapabilities {
  bool version1_4;
  bool version1_5;
  bool version2_0;
  bool version2_1;
  bool version3_0;
  bool arbTextureNonPowerOfTwo;
  bool arbVertexBufferObject;
  bool arbPixelBufferObject;
  bool arbFramebufferObject;
  bool extFramebufferObject;
  bool arbShaderObjects;
  bool arbVertexShader;
  bool arbFragmentShader;
  bool arbShadingLanguage100;
  bool arbTextureFloat;
  bool arbHalfFloatPixel;
  bool nvFloatBuffer;
  bool atiTextureFloat;
};
