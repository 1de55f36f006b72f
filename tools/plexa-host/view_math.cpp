#include "view_math.h"

#include <cmath>
#include <utility>

namespace plexa::refhost {

namespace {

// Slightly above the desk and in front of it, looking down across the floor
// so that the horizon stays in the picture: objects then stand against the
// sky instead of a flat wall of floor, and their shadows show where they are.
constexpr double kEye[3] = {0.0, 1.9, 7.0};
constexpr double kTarget[3] = {0.0, 0.0, -0.3};
constexpr double kFovyDegrees = 36.0;
// The floor reaches far towards the horizon; depth precision near the
// objects matters more than at the far end.
constexpr double kNear = 0.5;
constexpr double kFar = 80.0;

double& at(Matrix4& matrix, int row, int column) {
    return matrix.m[column * 4 + row];
}

double at(const Matrix4& matrix, int row, int column) {
    return matrix.m[column * 4 + row];
}

void transform(const Matrix4& matrix, const double in[4], double out[4]) {
    for (int row = 0; row < 4; ++row) {
        out[row] = 0.0;
        for (int k = 0; k < 4; ++k) out[row] += at(matrix, row, k) * in[k];
    }
}

void normalise(double v[3]) {
    const double length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length > 0.0) {
        for (int i = 0; i < 3; ++i) v[i] /= length;
    }
}

void cross(const double a[3], const double b[3], double out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

}  // namespace

Matrix4 identityMatrix() {
    Matrix4 identity{};
    for (int i = 0; i < 4; ++i) at(identity, i, i) = 1.0;
    return identity;
}

Matrix4 multiply(const Matrix4& a, const Matrix4& b) {
    Matrix4 product{};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += at(a, row, k) * at(b, k, column);
            at(product, row, column) = sum;
        }
    }
    return product;
}

// The matrices gluPerspective and gluLookAt build.
Matrix4 perspectiveMatrix(double fovyDegrees, double aspect, double zNear, double zFar) {
    const double f = 1.0 / std::tan(fovyDegrees * 3.14159265358979323846 / 360.0);
    Matrix4 projection{};
    at(projection, 0, 0) = f / aspect;
    at(projection, 1, 1) = f;
    at(projection, 2, 2) = (zFar + zNear) / (zNear - zFar);
    at(projection, 2, 3) = 2.0 * zFar * zNear / (zNear - zFar);
    at(projection, 3, 2) = -1.0;
    return projection;
}

Matrix4 lookAtMatrix(const double eye[3], const double target[3], const double up[3]) {
    double forward[3] = {target[0] - eye[0], target[1] - eye[1], target[2] - eye[2]};
    normalise(forward);
    double side[3];
    cross(forward, up, side);
    normalise(side);
    double trueUp[3];
    cross(side, forward, trueUp);
    Matrix4 view = identityMatrix();
    for (int column = 0; column < 3; ++column) {
        at(view, 0, column) = side[column];
        at(view, 1, column) = trueUp[column];
        at(view, 2, column) = -forward[column];
    }
    for (int row = 0; row < 3; ++row) {
        at(view, row, 3) = -(at(view, row, 0) * eye[0] + at(view, row, 1) * eye[1] + at(view, row, 2) * eye[2]);
    }
    return view;
}

bool invert(const Matrix4& matrix, Matrix4* inverse) {
    // Gauss-Jordan elimination with partial pivoting on [matrix | identity].
    double work[4][8];
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            work[row][column] = at(matrix, row, column);
            work[row][column + 4] = row == column ? 1.0 : 0.0;
        }
    }
    for (int column = 0; column < 4; ++column) {
        int pivot = column;
        for (int row = column + 1; row < 4; ++row) {
            if (std::fabs(work[row][column]) > std::fabs(work[pivot][column])) pivot = row;
        }
        if (std::fabs(work[pivot][column]) < 1e-300) return false;
        if (pivot != column) {
            for (int k = 0; k < 8; ++k) std::swap(work[pivot][k], work[column][k]);
        }
        const double scale = 1.0 / work[column][column];
        for (int k = 0; k < 8; ++k) work[column][k] *= scale;
        for (int row = 0; row < 4; ++row) {
            if (row == column) continue;
            const double factor = work[row][column];
            if (factor == 0.0) continue;
            for (int k = 0; k < 8; ++k) work[row][k] -= factor * work[column][k];
        }
    }
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) at(*inverse, row, column) = work[row][column + 4];
    }
    return true;
}

Matrix4 shadowMatrix(const double towardLight[3], double planeY) {
    // M = (P . L) I - L P^T for the plane P = (0, 1, 0, -planeY) and the
    // light L = (towardLight, 0): a point keeps its w-scaled offset along L
    // until its height is planeY.
    const double plane[4] = {0.0, 1.0, 0.0, -planeY};
    const double light[4] = {towardLight[0], towardLight[1], towardLight[2], 0.0};
    const double dot = light[1];
    Matrix4 shadow{};
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 4; ++column) {
            at(shadow, row, column) = (row == column ? dot : 0.0) - light[row] * plane[column];
        }
    }
    return shadow;
}

Camera desktopCamera(int width, int height) {
    Camera camera;
    camera.width = width;
    camera.height = height;
    const double aspect = width > 0 && height > 0 ? static_cast<double>(width) / height : 1.0;
    camera.projection = perspectiveMatrix(kFovyDegrees, aspect, kNear, kFar);
    const double up[3] = {0.0, 1.0, 0.0};
    camera.modelview = lookAtMatrix(kEye, kTarget, up);
    return camera;
}

bool projectToWindow(const Camera& camera, const float point[3], double* x, double* y) {
    const double in[4] = {point[0], point[1], point[2], 1.0};
    double eye[4], clip[4];
    transform(camera.modelview, in, eye);
    transform(camera.projection, eye, clip);
    if (clip[3] <= 0.0) return false;
    *x = (clip[0] / clip[3] + 1.0) * 0.5 * camera.width;
    *y = (1.0 - clip[1] / clip[3]) * 0.5 * camera.height;
    return true;
}

bool pointAtHeight(const Camera& camera, double x, double y, double height, float point[3]) {
    if (camera.width <= 0 || camera.height <= 0) return false;
    Matrix4 inverse;
    if (!invert(multiply(camera.projection, camera.modelview), &inverse)) return false;
    const double ndcX = 2.0 * x / camera.width - 1.0;
    const double ndcY = 1.0 - 2.0 * y / camera.height;
    double ends[2][3];
    for (int end = 0; end < 2; ++end) {
        const double clip[4] = {ndcX, ndcY, end == 0 ? -1.0 : 1.0, 1.0};
        double world[4];
        transform(inverse, clip, world);
        if (world[3] == 0.0) return false;
        for (int axis = 0; axis < 3; ++axis) ends[end][axis] = world[axis] / world[3];
    }
    const double rise = ends[1][1] - ends[0][1];
    if (std::fabs(rise) < 1e-12) return false;
    const double t = (height - ends[0][1]) / rise;
    if (t < 0.0) return false;
    for (int axis = 0; axis < 3; ++axis) {
        point[axis] = static_cast<float>(ends[0][axis] + t * (ends[1][axis] - ends[0][axis]));
    }
    point[1] = static_cast<float>(height);
    return true;
}

Camera tileOf(const Camera& camera, int column, int row, int tiles) {
    // In clip space: scale x and y by `tiles`, then shift the chosen piece
    // onto [-1, 1]; shifting by a multiple of w keeps it a projective map.
    Matrix4 pick = identityMatrix();
    at(pick, 0, 0) = tiles;
    at(pick, 1, 1) = tiles;
    at(pick, 0, 3) = tiles - 1 - 2 * column;
    at(pick, 1, 3) = tiles - 1 - 2 * row;
    Camera tile = camera;
    tile.projection = multiply(pick, camera.projection);
    return tile;
}

double viewDepth(const Camera& camera, const float point[3]) {
    const double in[4] = {point[0], point[1], point[2], 1.0};
    double eye[4];
    transform(camera.modelview, in, eye);
    return -eye[2];
}

}  // namespace plexa::refhost
