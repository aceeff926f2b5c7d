#include "app/matrix.h"

#include <cmath>
#include <cstring>

namespace {

float dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

Vec3 normalised(Vec3 v) {
    float lengthSquared = dot(v, v);
    if (lengthSquared < 1e-25f) return v;
    float inverse = 1.0f / std::sqrt(lengthSquared);
    return {v.x * inverse, v.y * inverse, v.z * inverse};
}

// Determinant of the 3x3 minor of m that leaves out row `row` and column `column`.
float minor3(const float m[16], int row, int column) {
    float e[9];
    int n = 0;
    for (int c = 0; c < 4; ++c) {
        if (c == column) continue;
        for (int r = 0; r < 4; ++r) {
            if (r == row) continue;
            e[n++] = m[4 * c + r];
        }
    }
    // e is column-major 3x3: e[3*c + r]
    return e[0] * (e[4] * e[8] - e[7] * e[5]) - e[3] * (e[1] * e[8] - e[7] * e[2]) +
           e[6] * (e[1] * e[5] - e[4] * e[2]);
}

} // namespace

Mat4 identityMatrix() {
    return {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
}

Mat4 lookAt(Vec3 eye, Vec3 target, Vec3 up) {
    Vec3 f = normalised({target.x - eye.x, target.y - eye.y, target.z - eye.z});
    Vec3 s = normalised(cross(f, up));
    Vec3 u = cross(s, f);
    Mat4 m{};
    // row 0
    m[0] = s.x, m[4] = s.y, m[8] = s.z, m[12] = -dot(s, eye);
    // row 1
    m[1] = u.x, m[5] = u.y, m[9] = u.z, m[13] = -dot(u, eye);
    // row 2
    m[2] = -f.x, m[6] = -f.y, m[10] = -f.z, m[14] = dot(f, eye);
    // row 3
    m[3] = 0, m[7] = 0, m[11] = 0, m[15] = 1;
    return m;
}

bool invertMatrixIfRegular(const float m[16], float out[16]) {
    // Expansion along the first row: element (0, c) times its cofactor.
    float determinant = 0.0f;
    for (int c = 0; c < 4; ++c) {
        float sign = (c % 2 == 0) ? 1.0f : -1.0f;
        determinant += sign * m[4 * c] * minor3(m, 0, c);
    }
    if (determinant == 0.0f) return false;
    float inverse[16];
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            float sign = ((r + c) % 2 == 0) ? 1.0f : -1.0f;
            // adjugate: inverse(r, c) = cofactor(c, r) / determinant
            inverse[4 * c + r] = sign * minor3(m, c, r) / determinant;
        }
    }
    std::memcpy(out, inverse, sizeof inverse);
    return true;
}

Mat4 invertMatrix(const Mat4& m) {
    Mat4 inverse;
    if (!invertMatrixIfRegular(m.data(), inverse.data())) return identityMatrix();
    return inverse;
}

void multiplyMatrices(const float a[16], const float b[16], float out[16]) {
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            float sum = 0.0f;
            for (int k = 0; k < 4; ++k) sum += a[4 * k + r] * b[4 * c + k];
            out[4 * c + r] = sum;
        }
    }
}

Mat4 multiplyMatrix(const Mat4& a, const Mat4& b) {
    Mat4 product;
    multiplyMatrices(a.data(), b.data(), product.data());
    return product;
}

// ---- Projections ----

Mat4 perspectiveMatrix(float yfov, float aspectRatio, float nearPlane, float farPlane) {
    Mat4 m{};
    const float focal = 1.0f / std::tan(0.5f * yfov);
    m[0] = focal / aspectRatio;
    m[5] = focal;
    m[11] = -1.0f;
    if (farPlane > 0.0f) {
        m[10] = (farPlane + nearPlane) / (nearPlane - farPlane);
        m[14] = 2.0f * farPlane * nearPlane / (nearPlane - farPlane);
    } else {
        m[10] = -1.0f;
        m[14] = -2.0f * nearPlane;
    }
    return m;
}

Mat4 orthographicMatrix(float xmag, float ymag, float nearPlane, float farPlane) {
    Mat4 m = identityMatrix();
    m[0] = 1.0f / xmag;
    m[5] = 1.0f / ymag;
    m[10] = 2.0f / (nearPlane - farPlane);
    m[14] = (farPlane + nearPlane) / (nearPlane - farPlane);
    return m;
}
