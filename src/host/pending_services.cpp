#include "host/pending_services.h"


void InitializePresetsMenu() {}
void LoadSplashBitmap() {}
