#pragma once
#include <type_traits>

// The one geometric value type: a plain triple, copied bit for bit.
struct VECTORD {
    double x, y, z;

    VECTORD &operator=(double s) {
        x = y = z = s;
        return *this;
    }
    VECTORD &operator+=(const VECTORD &v) {
        x += v.x;
        y += v.y;
        z += v.z;
        return *this;
    }
    VECTORD &operator-=(const VECTORD &v) {
        x -= v.x;
        y -= v.y;
        z -= v.z;
        return *this;
    }
    VECTORD &operator*=(const VECTORD &v) {
        x *= v.x;
        y *= v.y;
        z *= v.z;
        return *this;
    }
    VECTORD &operator/=(const VECTORD &v) {
        x /= v.x;
        y /= v.y;
        z /= v.z;
        return *this;
    }
};

static_assert(sizeof(VECTORD) == 3 * sizeof(double), "VECTORD must be exactly three doubles");
static_assert(std::is_trivially_copyable<VECTORD>::value &&
                  std::is_standard_layout<VECTORD>::value && std::is_aggregate<VECTORD>::value,
              "VECTORD must stay a plain aggregate");

inline VECTORD operator+(const VECTORD &a, const VECTORD &b) {
    VECTORD r = a;
    r += b;
    return r;
}
inline VECTORD operator-(const VECTORD &a, const VECTORD &b) {
    VECTORD r = a;
    r -= b;
    return r;
}
inline VECTORD operator*(const VECTORD &a, const VECTORD &b) {
    VECTORD r = a;
    r *= b;
    return r;
}
inline VECTORD operator/(const VECTORD &a, const VECTORD &b) {
    VECTORD r = a;
    r /= b;
    return r;
}

// Degrees to radians with the game's own eight-decimal pi; aiming depends on this exact value.
inline double rad(double deg) {
    return deg * (3.14159265 / 180);
}
