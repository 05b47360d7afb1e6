// The process entry: everything happens in client_main. The terminal is
// taken when the main screen first runs, and given back when it ends.
#include "platform/display.h"
#include "shell/startup.h"

int main() {
    if (display_prefer_terminal() != 0) return 1;
    int result = client_main(KIVO_INSTANCE);
    display_stop();
    return result;
}
