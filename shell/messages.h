#pragma once
// The console's notices and the ranking listing, in the window too (the messages setting): the
// last few lines at the top left, fading after some seconds, and after r the best ten as a
// table until the next key or a few seconds. Drawn with the game's bitmap font after the
// head-up display, never over the cross's centre; the game's rules see none of it.

// From now on the console's lines also go to the window.
void window_messages_start();
// A tick: lines and the table age.
void window_messages_tick();
// A key: the table goes.
void window_messages_key();
// The ranking is listed on the console between these: its lines make the table instead.
void window_messages_listing_begin();
void window_messages_listing_end();
// Draws what is to be shown into a w x h frame.
void window_messages_draw(int w, int h);
// The table covers where the title line goes.
bool window_messages_over_title();
