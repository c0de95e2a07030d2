#include <cmath>

#include "world/buttai.h"
#include "world/random.h"

namespace {

// Integer speed factor from -10 to 19.
double speed_draw() {
    return static_cast<double>(game_rand() % 30 - 10);
}

// Heading on one axis: 0 -> +1, 1 -> 0, 2 -> -1.
int32_t direction_draw() {
    return 1 - game_rand() % 3;
}

// Patterns 1-4 and 6-9 step in the ground plane only.
void step(buttai &o, double sx, double sz) {
    VECTORD s;
    s = 0.0;
    s.x = sx;
    s.z = sz;
    s *= o.dt;
    o.pos += s;
}

void redraw(buttai &o) {
    o.dirx = direction_draw();
    o.dirz = direction_draw();
    o.phase = 0;
}

// Plain integration; also what a bullet does.
void integrate(buttai &o) {
    o.vel += o.acc * o.dt;
    o.pos += o.vel * o.dt;
}

} // namespace

void buttai::syoki() {
    dt = 0.01;
    radius = std::sqrt((size.x * size.x + size.y * size.y) + size.z * size.z);
    phase = 0.0;
    dirx = 0;
    dirz = 0;
}

void buttai::move() {
    switch (pattern) {
    case 1:
        movepart1();
        break;
    case 2:
        movepart2();
        break;
    case 3:
        movepart3();
        break;
    case 4:
        movepart4();
        break;
    case 5:
        movepart5();
        break;
    case 6:
        movepart6();
        break;
    case 7:
        movepart7();
        break;
    case 8:
        movepart8();
        break;
    case 9:
        movepart9();
        break;
    default:
        movepart5();
        break;
    }
}

// The thresholds are the game's own constants, not 2*pi.
void buttai::movepart1() {
    phase += 0.2;
    if (phase >= 6.283184) phase = 0;
    step(*this, std::sin(phase) * 10, std::cos(phase) * 10);
}

void buttai::movepart2() {
    phase += 0.1;
    if (phase >= 6.283184) phase = 0;
    step(*this, vel.x * std::sin(phase) * 10, vel.z * std::sin(phase) * 10);
}

void buttai::movepart3() {
    phase += 0.1;
    if (phase > 10.0) phase = 0;
    if (phase < 5.0)
        step(*this, vel.x * 10, vel.z * 10);
    else
        step(*this, -(vel.x * 10), -(vel.z * 10));
}

void buttai::movepart4() {
    phase += 0.1;
    if (phase > 10.0) phase = 0;
    const double r1 = speed_draw();
    const double r2 = speed_draw();
    if (phase < 5.0)
        step(*this, vel.x * r1, vel.z * r2);
    else
        step(*this, -(vel.x * r1), -(vel.z * r2));
}

void buttai::movepart5() {
    integrate(*this);
}

void buttai::movepart6() {
    phase += 0.2;
    if (phase > 5.0) redraw(*this);
    step(*this, dirx * vel.x * 10, dirz * vel.z * 10);
}

void buttai::movepart7() {
    phase += 0.2;
    if (phase > 5.0) redraw(*this);
    step(*this, dirx * vel.x * std::sin(phase) * 10, dirz * vel.z * std::sin(phase) * 10);
}

void buttai::movepart8() {
    phase += 0.2;
    if (phase > 6.283184) redraw(*this);
    step(*this, std::sin(phase) * dirx * vel.x * 10, std::cos(phase) * dirz * vel.z * 10);
}

void buttai::movepart9() {
    phase += 0.2;
    if (phase > 6.283184) redraw(*this);
    const double r1 = speed_draw();
    const double r2 = speed_draw();
    step(*this, dirx * vel.x * r1, dirz * vel.z * r2);
}

void hito::move() {
    buttai::move();
}

void building::move() {}

void mato::move() {}

// A bullet flies straight and dies once it leaves the play cube; the pattern is ignored.
void tama::move() {
    integrate(*this);
    if (pos.x < -300.0 || pos.x > 300.0) life = 0;
    if (pos.y < -300.0 || pos.y > 300.0) life = 0;
    if (pos.z < -300.0 || pos.z > 300.0) life = 0;
}
