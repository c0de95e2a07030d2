#include "sound/mci.h"

#include "platform/platform.h"

namespace {
media_control *current = nullptr;
}

media_control *media() {
    return current ? current : plat_media();
}
void set_media(media_control *m) {
    current = m;
}

void play_effect(const char *file) {
    media()->effect(file);
}
