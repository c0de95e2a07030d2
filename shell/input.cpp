// Keyboard, mouse buttons and passive motion: keys are recorded, motion pans, a press fires.
#include <cmath>
#include <cstdint>
#include <new>

#include "flow/gamestate.h"
#include "base/console.h"
#include "base/quit.h"
#include "shell/messages.h"
#include "shell/shell.h"
#include "platform/platform.h"
#include "sound/mci.h"
#include "world/buttai.h"

void keyboard(unsigned char key, int, int) {
    window_messages_key();
    switch (key) {
    case 27:
    case 'q':
        quit(0);
    case 'n':
        key_press = KEY_N;
        break;
    case 'y':
        key_press = KEY_Y;
        break;
    case 'a':
        key_press = KEY_A;
        break;
    case 's':
        key_press = KEY_S;
        break;
    case 'd':
        key_press = KEY_D;
        break;
    case 'w':
        key_press = KEY_W;
        break;
    case 'z':
        key_press = KEY_Z;
        break;
    case 'x':
        key_press = KEY_X;
        break;
    case 'r':
        key_press = KEY_R;
        break;
    default:
        key_press = KEY_NONE;
        break;
    }
}

void mouse(int button, int state, int, int) {
    if (button == plat_right_button) {
        if (state == plat_down) plat_post_redisplay();
        return;
    }
    if (button != plat_left_button || state != plat_down) return;
    if (gs.energy <= 0) {
        if (gs.status != -1) play_effect("kara.wav");
        return;
    }
    if (gs.status == -1 || gs.gameover != 0) return;

    tama *t = new (std::nothrow) tama;
    play_effect("shot.wav");
    gs.shots += 1;
    gs.energy -= 1;
    if (!t) {
        console_say("メモリ割り当てエラー");
        quit(-1);
    }
    t->life = 1.0;
    t->pos = VECTORD{-ply.x, -ply.y, -ply.z};
    t->size = 0.3;
    t->acc = 0.0;
    const double r = rad(ry), a = rad(rx);
    t->vel.x = std::cos(r) * std::sin(a) * 5000.0;
    t->vel.y = std::sin(r) * -5000.0;
    t->vel.z = std::cos(r) * std::cos(a) * -5000.0;
    t->prevpos = t->pos;
    t->detail = 10.0;
    t->spare = 0;
    t->pattern = 0;
    t->syoki();
    tama_set.push_front(t);
}

void mousemove(int x, int y) {
    winsize = plat_window_rect(hWnd);
    if (gs.status == -1) return;
    if (moveon == 0) {
        // Whole pixels, taken wide: no position a window system gives can overflow them.
        ply.x -= static_cast<double>(static_cast<int64_t>(x) - xo) * 0.1;
        ply.z -= static_cast<double>(static_cast<int64_t>(y) - yo) * 0.1;
        plat_warp_cursor(gw / 2 + winsize.left, gh / 2 + winsize.top);
        moveon = 1;
    } else {
        xo = x;
        yo = y;
        moveon = 0;
    }
}
