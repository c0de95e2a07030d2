#pragma once
#include "platform/media.h"

// The layer in use: the platform's unless a test or tool has put another in place.
media_control *media();
void set_media(media_control *m);

// The effect call of the shot, the empty click and the hit.
void play_effect(const char *file);
