// The solid sphere and cube, tessellated as freeglut 3 makes them: the same vertices, normals,
// order and strips, drawn through client arrays that are switched off again afterwards.
#include <GL/freeglut.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

// sin and cos around a circle of |n| steps; a negative n turns the other way.
void circle_table(std::vector<float> &sint, std::vector<float> &cost, int n, bool half) {
    const int size = std::abs(n);
    const float angle =
        (half ? 1 : 2) * static_cast<float>(M_PI) / static_cast<float>(n == 0 ? 1 : n);
    sint.assign(static_cast<size_t>(size) + 1, 0.0f);
    cost.assign(static_cast<size_t>(size) + 1, 0.0f);
    sint[0] = 0.0f;
    cost[0] = 1.0f;
    for (int i = 1; i < size; ++i) {
        sint[i] = static_cast<float>(std::sin(static_cast<double>(angle * static_cast<float>(i))));
        cost[i] = static_cast<float>(std::cos(static_cast<double>(angle * static_cast<float>(i))));
    }
    if (half) {
        sint[size] = 0.0f;
        cost[size] = -1.0f;
    } else {
        sint[size] = sint[0];
        cost[size] = cost[0];
    }
}

void draw_solid(const std::vector<float> &vertices, const std::vector<float> &normals,
                const GLushort *indices, int parts, int per_part, GLenum part_mode) {
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_NORMAL_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, vertices.data());
    glNormalPointer(GL_FLOAT, 0, normals.data());
    for (int i = 0; i < parts; ++i)
        glDrawElements(part_mode, per_part, GL_UNSIGNED_SHORT, indices + i * per_part);
    glDisableClientState(GL_VERTEX_ARRAY);
    glDisableClientState(GL_NORMAL_ARRAY);
}

} // namespace

extern "C" void glutSolidSphere(double radius_d, GLint slices, GLint stacks) {
    if (slices == 0 || stacks < 2) return;
    const float radius = static_cast<float>(radius_d);
    const int nvert = slices * (stacks - 1) + 2;
    std::vector<float> sint1, cost1, sint2, cost2;
    circle_table(sint1, cost1, -slices, false);
    circle_table(sint2, cost2, stacks, true);
    std::vector<float> v(static_cast<size_t>(nvert) * 3), n(static_cast<size_t>(nvert) * 3);
    v[0] = 0.f;
    v[1] = 0.f;
    v[2] = radius;
    n[0] = 0.f;
    n[1] = 0.f;
    n[2] = 1.f;
    size_t idx = 3;
    for (int i = 1; i < stacks; ++i) {
        for (int j = 0; j < slices; ++j, idx += 3) {
            const float x = cost1[j] * sint2[i];
            const float y = sint1[j] * sint2[i];
            const float z = cost2[i];
            v[idx] = x * radius;
            v[idx + 1] = y * radius;
            v[idx + 2] = z * radius;
            n[idx] = x;
            n[idx + 1] = y;
            n[idx + 2] = z;
        }
    }
    v[idx] = 0.f;
    v[idx + 1] = 0.f;
    v[idx + 2] = -radius;
    n[idx] = 0.f;
    n[idx + 1] = 0.f;
    n[idx + 2] = -1.f;

    // One triangle strip a stack: the top fan, the middle bands, the bottom fan.
    std::vector<GLushort> strip(static_cast<size_t>(slices + 1) * 2 * stacks);
    size_t k = 0;
    for (int j = 0; j < slices; ++j, k += 2) {
        strip[k] = static_cast<GLushort>(j + 1);
        strip[k + 1] = 0;
    }
    strip[k] = 1;
    strip[k + 1] = 0;
    k += 2;
    for (int i = 0; i < stacks - 2; ++i, k += 2) {
        const int offset = 1 + i * slices;
        for (int j = 0; j < slices; ++j, k += 2) {
            strip[k] = static_cast<GLushort>(offset + j + slices);
            strip[k + 1] = static_cast<GLushort>(offset + j);
        }
        strip[k] = static_cast<GLushort>(offset + slices);
        strip[k + 1] = static_cast<GLushort>(offset);
    }
    const int offset = 1 + (stacks - 2) * slices;
    for (int j = 0; j < slices; ++j, k += 2) {
        strip[k] = static_cast<GLushort>(nvert - 1);
        strip[k + 1] = static_cast<GLushort>(offset + j);
    }
    strip[k] = static_cast<GLushort>(nvert - 1);
    strip[k + 1] = static_cast<GLushort>(offset);
    draw_solid(v, n, strip.data(), stacks, (slices + 1) * 2, GL_TRIANGLE_STRIP);
}

extern "C" void glutSolidCube(double size_d) {
    static const float corner[8][3] = {{.5f, .5f, .5f},   {-.5f, .5f, .5f},  {-.5f, -.5f, .5f},
                                       {.5f, -.5f, .5f},  {.5f, -.5f, -.5f}, {.5f, .5f, -.5f},
                                       {-.5f, .5f, -.5f}, {-.5f, -.5f, -.5f}};
    static const float face_normal[6][3] = {{0, 0, 1},  {1, 0, 0},  {0, 1, 0},
                                            {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};
    static const int face[6][4] = {{0, 1, 2, 3}, {0, 3, 4, 5}, {0, 5, 6, 1},
                                   {1, 6, 7, 2}, {7, 4, 3, 2}, {4, 7, 6, 5}};
    const float size = static_cast<float>(size_d);
    std::vector<float> v(6 * 4 * 3), n(6 * 4 * 3);
    std::vector<GLushort> tris(6 * 6);
    static const int split[6] = {0, 1, 2, 0, 2, 3};
    for (int f = 0; f < 6; ++f) {
        for (int c = 0; c < 4; ++c)
            for (int a = 0; a < 3; ++a) {
                // freeglut scales the unit cube's coordinates unless the size is 1.
                const float unit = corner[face[f][c]][a];
                v[(f * 4 + c) * 3 + a] = size != 1.f ? size * unit : unit;
                n[(f * 4 + c) * 3 + a] = face_normal[f][a];
            }
        for (int t = 0; t < 6; ++t)
            tris[f * 6 + t] = static_cast<GLushort>(f * 4 + split[t]);
    }
    draw_solid(v, n, tris.data(), 1, 36, GL_TRIANGLES);
}
