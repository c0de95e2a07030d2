#pragma once
#include "world/vectord.h"

// The swept test of a bullet (radius counted at half) that flew from prevpos to pos against
// a ball at c of radius r: 1000 samples prevpos + d, + 2d, ... (d one thousandth of the path,
// accumulated by addition), strictly closer than radius * 0.5 + r. No side effects.
bool swept_hit(const VECTORD &prevpos, const VECTORD &pos, double radius, const VECTORD &c,
               double r);

// True only when that test cannot hit, decided without sampling; false when unsure. A centre
// that is not finite, or a NaN limit, can never be hit: true. Any other NaN or infinity: false.
bool swept_clear(const VECTORD &prevpos, const VECTORD &pos, double radius, const VECTORD &c,
                 double r);

// The sampling alone, without the early rejection: what swept_hit answers, the slow way.
bool swept_sampled(const VECTORD &prevpos, const VECTORD &pos, double radius, const VECTORD &c,
                   double r);
