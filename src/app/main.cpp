#include "app/Service.h"

int main() {
    kv::Service service;
    service.run();
    return 0;
}
