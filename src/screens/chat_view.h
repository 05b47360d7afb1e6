// The main screen's chat view: which wrapped rows of the ChatLog it shows,
// and how paging moves them. The position lives in g_state.chat_view.
#pragma once

#include "platform/platform.h"

// The paint's part: puts into the view (control view_id of the screen)
// exactly the rows it shows at its current size, from the position; while
// reading back, one row more, so that the view says more lies below.
void chat_view_fill(Window screen, int view_id);
// A paging request (WM_VSCROLL's SB_PAGEUP, SB_PAGEDOWN, SB_TOP, SB_BOTTOM)
// moves the position by the view's height less one row, to the oldest kept
// line or to the newest, and asks for a repaint.
void chat_view_page(Window screen, int view_id, uint16_t request);
// The view follows the newest line again (sending a line, clearing the chat).
void chat_view_follow();
