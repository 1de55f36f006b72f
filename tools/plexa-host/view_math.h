// The host's view of its desktop (core side: no Win32, no OpenGL).
//
// Drawing, picking, dropping an object where the user clicked and dragging it
// with the mouse must all agree on where a desktop point appears in the
// window. So the camera is computed here once, as plain matrices that the
// drawing side loads into OpenGL and the mouse side inverts, instead of being
// rebuilt from GL calls on one side and from guesses on the other.
//
// Desktop space: y is up; the floor is the plane y = kFloorY, so an object of
// unit size at y = 0 (the plug-in's default sphere, radius 0.5) rests on it.
//
// [X] camera (perspective and look-at) for any window size
// [X] desktop point to window pixel, window pixel to a point at a given height
// [X] eye-space depth, to draw objects back to front
// [X] the flattening matrix for shadows on the floor
// [X] tiles of an enlarged view, for smooth screenshots
// [ ] a camera the user can turn and zoom
#pragma once

namespace plexa::refhost {

constexpr float kFloorY = -0.5f;

// 4 x 4 matrix in OpenGL's layout: column-major, m[12..14] the translation.
struct Matrix4 {
    double m[16];
};

Matrix4 identityMatrix();
Matrix4 multiply(const Matrix4& a, const Matrix4& b);  // a * b: b acts first
Matrix4 perspectiveMatrix(double fovyDegrees, double aspect, double zNear, double zFar);
Matrix4 lookAtMatrix(const double eye[3], const double target[3], const double up[3]);
// False when the matrix is singular.
bool invert(const Matrix4& matrix, Matrix4* inverse);

// A directional light from `towardLight` (need not be unit length) casting
// onto the horizontal plane y = planeY: every point moves along the light's
// direction until it lies in that plane.
Matrix4 shadowMatrix(const double towardLight[3], double planeY);

struct Camera {
    Matrix4 projection;
    Matrix4 modelview;
    int width = 0;
    int height = 0;
};

// The host's camera for a client area of width x height pixels.
Camera desktopCamera(int width, int height);

// Window coordinates have their origin at the top left corner of the client
// area, as mouse messages give them; pixel (i, j) covers [i, i + 1) x
// [j, j + 1), so a click on pixel (i, j) means the point (i + 0.5, j + 0.5).

// Where a desktop point appears in the window; false when it lies behind the
// eye.
bool projectToWindow(const Camera& camera, const float point[3], double* x, double* y);

// The desktop point at height y = height seen at window point (x, y): where
// the ray under the cursor crosses that horizontal plane. False when the ray
// runs parallel to it or meets it behind the eye.
bool pointAtHeight(const Camera& camera, double x, double y, double height, float point[3]);

// The same view enlarged `tiles` times, cut into tiles x tiles pieces, and
// the piece in column `column` (from the left) and row `row` (from the
// bottom) drawn over the whole window: a screenshot drawn piece by piece at
// a multiple of the window's size, then scaled down, has smooth edges.
Camera tileOf(const Camera& camera, int column, int row, int tiles);

// Distance in front of the eye along the view direction; larger is farther.
double viewDepth(const Camera& camera, const float point[3]);

}  // namespace plexa::refhost
