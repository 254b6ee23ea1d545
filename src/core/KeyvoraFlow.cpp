#include "core/KeyvoraFlow.h"

namespace kv {

KeyvoraFlow& KeyvoraFlow::shared() {
    static KeyvoraFlow session;
    return session;
}

}  // namespace kv
