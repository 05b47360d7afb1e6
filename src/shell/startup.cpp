#include "shell/startup.h"

int client_main(ModuleInstance) { return 0; }
