#pragma once
// OpenGL as the plug-in calls it: through GLEW, whose entry points are
// loaded for each new rendering context (gl/glew_contexts.h).
#include <GL/glew.h>
