#include "world/buttai.h"

#include <GL/gl.h>

#include "platform/platform.h"

int32_t shothitg = 0;

int detail_slices(double detail) {
    // A stage file can hold anything: NaN and negatives draw nothing, huge values stop at 256.
    if (!(detail > 0.0)) return 0;
    if (detail >= 256.0) return 256;
    return static_cast<int>(detail);
}

namespace {

// One colour array per class, filled the first time that class draws.
struct class_colour {
    float rgba[4];
    bool filled;
};

const float *colour_once(class_colour &c, double r, double g, double b, double a) {
    if (!c.filled) {
        c.rgba[0] = static_cast<float>(r);
        c.rgba[1] = static_cast<float>(g);
        c.rgba[2] = static_cast<float>(b);
        c.rgba[3] = static_cast<float>(a);
        c.filled = true;
    }
    return c.rgba;
}

class_colour buttai_colour, hito_colour, building_colour, mato_colour, tama_colour;

// Spheres share everything but the colour; calc is still consulted like for every class.
void sphere(buttai &o, class_colour &c, double r, double g, double b, double a) {
    double cr = 0, cg = 0, cb = 0, ca = 0;
    o.calc(&cr, &cg, &cb, &ca);
    glMaterialfv(GL_FRONT, GL_DIFFUSE, colour_once(c, r, g, b, a));
    const int n = detail_slices(o.detail);
    plat_solid_sphere(o.radius, n, n);
}

} // namespace

void buttai::action() {}

void buttai::draw() {
    draw1();
    draw2();
    draw3();
}

void buttai::draw1() {
    glPushMatrix();
    glTranslated(pos.x, pos.y, pos.z);
}

void buttai::draw2() {
    sphere(*this, buttai_colour, 1.0, 0.0, 0.0, 1.0);
}

void buttai::draw3() {
    glPopMatrix();
}

void buttai::calc(double *, double *, double *, double *) {}

// A figure of zero size cannot be killed: its hits still count.
void hito::action() {
    if (radius > 0) life = 0;
}

void hito::draw2() {
    sphere(*this, hito_colour, 0.0, 0.0, 1.0, 1.0);
}

void hito::calc(double *, double *, double *, double *) {}

void building::action() {}

void building::draw2() {
    double r = 0, g = 0, b = 0, a = 0;
    calc(&r, &g, &b, &a);
    a = 1.0;
    glMaterialfv(GL_FRONT, GL_DIFFUSE, colour_once(building_colour, r, g, b, a));
    plat_solid_cube(radius);
}

void building::calc(double *r, double *g, double *b, double *) {
    *r = *g = *b = 0.5;
}

void mato::action() {
    life = 0;
}

void mato::draw2() {
    sphere(*this, mato_colour, 0.1, 0.1, 0.1, 1.0);
}

void mato::calc(double *, double *, double *, double *) {}

void tama::action() {
    life = 0;
}

void tama::draw2() {
    sphere(*this, tama_colour, 1.0, 0.0, 0.0, 1.0);
}

void tama::calc(double *, double *, double *, double *) {}
