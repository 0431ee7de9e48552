#pragma once
// The machine-wide store as the settings tests see it: natively a file below
// a private configuration folder, on Windows the key in the test prefix's
// registry. Each test starts and ends without the key.
namespace storetest {
void UsePrivateStore();
void RemoveStore();
}  // namespace storetest
