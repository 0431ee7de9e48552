#pragma once
// A rendering context for tests that draw: natively an EGL context without
// any window system (Mesa's surfaceless platform), on Windows the plug-in's
// own hidden context. It is current on the thread that made it and has its
// GLEW descriptor; drawing goes into frame buffers of the test's own.
#include <string>

class TestGLContext {
 public:
  TestGLContext() = default;
  TestGLContext(const TestGLContext&) = delete;
  TestGLContext& operator=(const TestGLContext&) = delete;
  ~TestGLContext() { Release(); }

  // False with Failure() saying why.
  bool Create();
  void Release();
  bool accelerated() const { return accelerated_; }
  const std::string& Failure() const { return failure_; }

 private:
  void* handle_ = nullptr;  // the platform's record
  bool accelerated_ = false;
  std::string failure_;
};
