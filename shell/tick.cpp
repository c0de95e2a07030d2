// The timer tick: the game's clock.
#include "flow/gamestate.h"
#include "flow/stage.h"
#include "base/console.h"
#include "platform/platform.h"
#include "shell/messages.h"
#include "shell/shell.h"
#include "world/buttai.h"

void timer_body() {
    gs.timer();
    // After the last stage the world stays empty; that is the ending, not another clear.
    if (!stage_file_ended && stageend()) {
        console_say("ステージクリア");
        const bool on_title = gs.status == -1;
        const int32_t energy = gs.energy, gameover = gs.gameover;
        gs.next();
        buttai_del();
        buttaiinit();
        if (stage_file_ended && on_title)
            gs.ending_on_title(energy, gameover);
        else if (stage_file_ended)
            gs.ending();
        else if (on_title)
            gs.started_by_itself();
    }
    for (auto it = buttai_set.begin(); it != buttai_set.end();) {
        buttai *b = *it;
        if (b->life <= 0) {
            delete b;
            it = buttai_set.erase(it);
        } else {
            b->move();
            ++it;
        }
    }
    for (auto it = tama_set.begin(); it != tama_set.end();) {
        buttai *t = *it;
        if (t->life <= 0) {
            delete t;
            it = tama_set.erase(it);
            continue;
        }
        t->move();
        for (buttai *o : buttai_set) {
            if (t->stumb(o)) {
                t->action();
                o->action();
            }
        }
        t->prevpos = t->pos;
        ++it;
    }
    window_messages_tick();
    plat_post_redisplay();
}

void timer(int) {
    timer_body();
    plat_arm_timer(100, timer, 0);
}
