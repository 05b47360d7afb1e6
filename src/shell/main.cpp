// The process entry: everything happens in client_main.
#include "shell/startup.h"

int main() {
    return client_main(KIVO_INSTANCE);
}
