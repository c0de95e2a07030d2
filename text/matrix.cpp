#include "text/matrix.h"

#include <GL/gl.h>

MatrixSaver::MatrixSaver(int32_t which) {
    // A query that is not a matrix fills fewer than 16 values; the rest stay defined.
    for (int i = 0; i < 16; ++i)
        matrix[i] = (i % 5 == 0) ? 1.0f : 0.0f;
    glGetFloatv(static_cast<GLenum>(which), matrix);
    switch (which) {
    case GL_PROJECTION_MATRIX:
        mode = GL_PROJECTION;
        break;
    case GL_TEXTURE_MATRIX:
        mode = GL_TEXTURE;
        break;
    default:
        mode = GL_MODELVIEW;
        break;
    }
}

MatrixSaver::~MatrixSaver() {
    // Restore under our own mode, then hand back whatever mode is current now.
    GLint now = GL_MODELVIEW;
    glGetIntegerv(GL_MATRIX_MODE, &now);
    glMatrixMode(static_cast<GLenum>(mode));
    glLoadMatrixf(matrix);
    glMatrixMode(static_cast<GLenum>(now));
}

ScreenMatrix::ScreenMatrix() {
    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // Top and bottom swapped so that y grows downward from the viewport's top edge.
    glOrtho(0.0, vp[2], vp[3], 0.0, -1.0, 50000.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}
