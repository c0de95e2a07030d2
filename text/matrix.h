#pragma once
#include <cstdint>

// Copies one GL matrix on construction and puts it back on destruction.
class MatrixSaver {
  public:
    int32_t mode;
    float matrix[16];

    explicit MatrixSaver(int32_t which);
    ~MatrixSaver();
    MatrixSaver(const MatrixSaver &) = delete;
    MatrixSaver &operator=(const MatrixSaver &) = delete;
};

// Pixel-space projection: one unit a pixel, origin at the viewport's top-left, y downward.
class ScreenMatrix {
  public:
    ScreenMatrix();
};
