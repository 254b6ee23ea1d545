#include "app/Service.h"

int main() {
    kv::Service service;
    service.start();
    service.runUntilQuit();
    return 0;
}
