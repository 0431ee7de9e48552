#include <windows.h>

#include "gl/drawing_settings.h"
#include "settings_store_support.h"

namespace storetest {

// The suites run in a Wine prefix of their own: its machine key is theirs.
void UsePrivateStore() {}

void RemoveStore() { RegDeleteKeyA(HKEY_LOCAL_MACHINE, OPENGL_SETTINGS_KEY); }

}  // namespace storetest
