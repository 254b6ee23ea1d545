#pragma once

#include <string>

namespace kv {

// A random (version 4) UUID in its canonical upper-case form, e.g. "1B4E28BA-2FA1-41D2-883F-0016D3CCA427".
std::string makeRandomUuid();

}  // namespace kv
