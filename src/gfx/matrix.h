// 4 x 4 matrices: row-major, row vectors (p' = p x M), translation in elements 12..14, left-handed.
// Angles are degrees; sines and cosines are taken in double of the float angle.
#pragma once
#include "gfx/colour.h"

struct Matrix44 {
    float m[16];
};

Matrix44 Matrix_Identity();
// out := a x b; out must be neither a nor b.
void Matrix_Multiply(Matrix44* out, const Matrix44& a, const Matrix44& b);
// Adjugate over determinant through temporaries, so out may be m; a zero determinant leaves out as it was.
bool Matrix_Inverse(Matrix44* out, const Matrix44& m);
// v x (1 / sqrt(x² + y² + z²)) in float.
void Vector3_GetNormalised(const Vector3& v, Vector3* out);

Matrix44 Matrix_BuildRotationX(float degrees);
Matrix44 Matrix_BuildRotationY(float degrees);
Matrix44 Matrix_BuildRotationZ(float degrees);
// The axis is normalised first (a zero axis gives NaN elements).
Matrix44 Matrix_BuildRotationAxis(const Vector3& axis, float degrees);
Matrix44 Matrix_BuildLookAt(const Vector3& eye, const Vector3& target, const Vector3& up);
// The projections give the identity when a size is 0 or the planes coincide.
Matrix44 Matrix_BuildPerspectiveFov(float fovy, float aspect, float zn, float zf);
Matrix44 Matrix_BuildPerspective(float w, float h, float zn, float zf);
Matrix44 Matrix_BuildOrtho(float w, float h, float zn, float zf);
Matrix44 Matrix_BuildTranslation(float x, float y, float z);
Matrix44 Matrix_BuildScaling(float x, float y, float z);
