#include "gl/install_configuration.h"

#include "gl/drawing_settings.h"
#include "gl/opengl_drawing.h"
#include "gl/wgl_contexts.h"
#include "runtime/buffers.h"
#include "runtime/report.h"
#include "runtime/user_folders.h"

void RunInstallConfiguration(const char* commandLine) {
  // The header is written when the queue opens.
  SetInstallationLogHeader(true);
  OpenDebugLoggingQueue(nullptr, "Glimmark 2");
  InitializeUserDataFolders();
  OpenDebugLog(LOGMODE_THREADED);
  InitializeBufferUsageTracking();
  BeginOpenGLSettingsRun();
  REPORT_TRACE("Beginning Installation Configuration");

  OpenGLSettings settings{};
  REPORT_TRACE("Settings.ReadOpenGLRegistryData()");
  ReadOpenGLRegistryData(&settings);

  REPORT_TRACE("CreateHiddenOpenGLContext()");
  OpenGLContext context{};
  PIXELFORMATDESCRIPTOR descriptor{};
  bool accelerated = true;
  if (CreateHiddenOpenGLContext(&context, &descriptor, &accelerated)) {
    settings.drawingMode =
        InstalledDrawingMode(settings.drawingMode, accelerated, DetermineDefaultDrawingMode(accelerated));
    settings.installedProductVersion = commandLine != nullptr ? commandLine : "";
    REPORT_TRACE("Installed drawing mode: %s (GPU acceleration %s).", DrawingModeName(settings.drawingMode),
                 accelerated ? "Yes" : "No");
    if (!WriteOpenGLRegistryData(&settings) && !settings.readOnly)
      REPORT_DEBUG("InstallConfiguration() - Failed to write OpenGL settings to registery.");
    REPORT_TRACE("DestroyHiddenOpenGLContext()");
    DestroyHiddenOpenGLContext(&context);
  } else {
    REPORT_DEBUG("InstallConfiguration() - Failed to create analysis context.");
  }

  ReportBufferUsage();
  DeleteBufferUsageTracking();
  CloseDebugLog();
  SetInstallationLogHeader(false);
}
