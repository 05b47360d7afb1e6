// Shared by the platform's screen tests: a headless display per test and a
// scripted idle hook that runs one step per call while a modal screen waits.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/display.h"
#include "platform/platform.h"
#include "platform/resource_format.h"
#include "resources/ids.h"

// Steps run from the idle hook, one per call, in order; a step returns false
// to be called again at the next idle turn (waiting for something). After the
// last step, or after too many idle turns, the hook closes the topmost screen
// so that a broken test ends instead of hanging.
struct IdleScript {
    static constexpr int STEPS = 16;
    static constexpr int TURNS_MAX = 500;  // x DISPLAY_HOOK_WAIT_MS at most: ~10 s
    bool (*steps[STEPS])(void* context);
    int count = 0;
    int next = 0;
    int turns = 0;
    void* context = nullptr;
    Window close_target = 0;  // posted WM_CLOSE when the script runs out
    bool ran_out = false;

    void add(bool (*step)(void*)) { steps[count++] = step; }
    static void hook(void* self);
};

inline void IdleScript::hook(void* self) {
    IdleScript* s = (IdleScript*)self;
    if (++s->turns > TURNS_MAX || s->next >= s->count) {
        s->ran_out = s->next < s->count;
        if (s->close_target) post_message(s->close_target, WM_CLOSE, 0, 0);
        return;
    }
    if (s->steps[s->next](s->context)) s->next++;
}

class ScreenTest : public ::testing::Test {
protected:
    void SetUp() override { display_start_headless(80, 24); }
    void TearDown() override {
        display_set_idle_hook(nullptr, nullptr);
        display_stop();
    }
};

inline std::string grid_row(int row) {
    char line[DISPLAY_COLS_MAX * 4 + 1];
    display_row_text(row, line, sizeof line);
    return line;
}

inline std::string grid_text() {
    std::string all;
    for (int r = 0; r < display_rows(); r++) all += grid_row(r) + "\n";
    return all;
}

inline std::u16string control_text(Window screen, int id) {
    char16_t buffer[2048];
    control_get_text(screen, id, buffer, 2048);
    return buffer;
}
