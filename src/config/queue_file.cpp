// Placeholder until the queue file lands: nothing is kept.
#include "config/queue_file.h"

int queue_text_make(char*, int) { return 0; }
int queue_text_parse(const char*, int) { return 0; }
void queue_file_load(const char16_t*) {}
int queue_file_save(const char16_t*) { return 0; }
