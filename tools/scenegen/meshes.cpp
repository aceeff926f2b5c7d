#include "tools/scenegen/meshes.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

constexpr float kPi = 3.14159265358979f;

struct Vertex {
    Point3 position;
    Point3 normal;
    float u, v;
};

Point3 add(Point3 a, Point3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Point3 sub(Point3 a, Point3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Point3 mul(Point3 a, float s) {
    return {a.x * s, a.y * s, a.z * s};
}
float dot(Point3 a, Point3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
float length(Point3 a) {
    return std::sqrt(dot(a, a));
}
Point3 cross(Point3 a, Point3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
Point3 normalise(Point3 a) {
    float l = length(a);
    return l > 0.0f ? mul(a, 1.0f / l) : a;
}

uint32_t pushVertex(MeshData& mesh, const Vertex& vertex) {
    mesh.positions.insert(mesh.positions.end(), {vertex.position.x, vertex.position.y, vertex.position.z});
    mesh.normals.insert(mesh.normals.end(), {vertex.normal.x, vertex.normal.y, vertex.normal.z});
    mesh.texcoords.insert(mesh.texcoords.end(), {vertex.u, vertex.v});
    return static_cast<uint32_t>(mesh.vertexCount() - 1);
}

Point3 positionOf(const MeshData& mesh, uint32_t i) {
    return {mesh.positions[i * 3], mesh.positions[i * 3 + 1], mesh.positions[i * 3 + 2]};
}
Point3 normalOf(const MeshData& mesh, uint32_t i) {
    return {mesh.normals[i * 3], mesh.normals[i * 3 + 1], mesh.normals[i * 3 + 2]};
}

// Appends a triangle wound counter-clockwise around its vertex normals; degenerate triangles
// (the collapsed corners at a sphere's poles) are dropped.
void pushTriangle(MeshData& mesh, uint32_t a, uint32_t b, uint32_t c) {
    Point3 pa = positionOf(mesh, a), pb = positionOf(mesh, b), pc = positionOf(mesh, c);
    Point3 face = cross(sub(pb, pa), sub(pc, pa));
    if (length(face) < 1e-9f) return;
    Point3 vertexNormals = add(add(normalOf(mesh, a), normalOf(mesh, b)), normalOf(mesh, c));
    if (dot(face, vertexNormals) < 0.0f) std::swap(b, c);
    mesh.indices.insert(mesh.indices.end(), {a, b, c});
}

// A surface given as a grid of rows x columns vertices; neighbouring vertices form quads.
void addSurface(MeshData& mesh, const std::vector<std::vector<Vertex>>& grid) {
    std::vector<std::vector<uint32_t>> ids(grid.size());
    for (size_t r = 0; r < grid.size(); ++r) {
        for (const Vertex& vertex : grid[r]) ids[r].push_back(pushVertex(mesh, vertex));
    }
    for (size_t r = 0; r + 1 < grid.size(); ++r) {
        for (size_t c = 0; c + 1 < grid[r].size(); ++c) {
            pushTriangle(mesh, ids[r][c], ids[r][c + 1], ids[r + 1][c + 1]);
            pushTriangle(mesh, ids[r][c], ids[r + 1][c + 1], ids[r + 1][c]);
        }
    }
}

// One flat face: centre +- halfU +- halfV, normal along cross(halfU, halfV).
void addFace(MeshData& mesh, Point3 centre, Point3 halfU, Point3 halfV, float uvPerUnit) {
    Point3 normal = normalise(cross(halfU, halfV));
    float su = 2.0f * length(halfU) * uvPerUnit, sv = 2.0f * length(halfV) * uvPerUnit;
    Point3 base = sub(sub(centre, halfU), halfV);
    Point3 corners[4] = {base, add(base, mul(halfU, 2)), add(add(base, mul(halfU, 2)), mul(halfV, 2)),
                         add(base, mul(halfV, 2))};
    float uv[8] = {0, 0, su, 0, su, sv, 0, sv};
    addQuad(mesh, corners, normal, uv);
}

} // namespace

void addQuad(MeshData& mesh, const Point3 (&corners)[4], Point3 normal, const float (&uv)[8]) {
    addSurface(mesh, {{{corners[0], normal, uv[0], uv[1]}, {corners[1], normal, uv[2], uv[3]}},
                      {{corners[3], normal, uv[6], uv[7]}, {corners[2], normal, uv[4], uv[5]}}});
}

void addGrid(MeshData& mesh, Point3 origin, Point3 a, Point3 b, int columns, int rows, float uvPerUnit) {
    Point3 normal = normalise(cross(a, b));
    float la = length(a) * uvPerUnit, lb = length(b) * uvPerUnit;
    std::vector<std::vector<Vertex>> grid(rows + 1);
    for (int r = 0; r <= rows; ++r) {
        float t = static_cast<float>(r) / rows;
        for (int c = 0; c <= columns; ++c) {
            float s = static_cast<float>(c) / columns;
            grid[r].push_back({add(origin, add(mul(a, s), mul(b, t))), normal, s * la, t * lb});
        }
    }
    addSurface(mesh, grid);
}

void addBox(MeshData& mesh, Point3 minimum, Point3 maximum, float uvPerUnit) {
    Point3 c = mul(add(minimum, maximum), 0.5f);
    Point3 h = mul(sub(maximum, minimum), 0.5f);
    addFace(mesh, {c.x + h.x, c.y, c.z}, {0, 0, -h.z}, {0, h.y, 0}, uvPerUnit);
    addFace(mesh, {c.x - h.x, c.y, c.z}, {0, 0, h.z}, {0, h.y, 0}, uvPerUnit);
    addFace(mesh, {c.x, c.y + h.y, c.z}, {h.x, 0, 0}, {0, 0, -h.z}, uvPerUnit);
    addFace(mesh, {c.x, c.y - h.y, c.z}, {h.x, 0, 0}, {0, 0, h.z}, uvPerUnit);
    addFace(mesh, {c.x, c.y, c.z + h.z}, {h.x, 0, 0}, {0, h.y, 0}, uvPerUnit);
    addFace(mesh, {c.x, c.y, c.z - h.z}, {-h.x, 0, 0}, {0, h.y, 0}, uvPerUnit);
}

void addCylinder(MeshData& mesh, Point3 base, float radius, float height, int segments, float uvPerUnit) {
    std::vector<std::vector<Vertex>> grid(2);
    for (int row = 0; row < 2; ++row) {
        for (int i = 0; i <= segments; ++i) {
            float angle = 2.0f * kPi * i / segments;
            Point3 out{std::cos(angle), 0.0f, std::sin(angle)};
            Point3 p = add(base, {out.x * radius, row * height, out.z * radius});
            grid[row].push_back({p, out, static_cast<float>(i) / segments, row * height * uvPerUnit});
        }
    }
    addSurface(mesh, grid);
}

void addSphere(MeshData& mesh, Point3 centre, float radius, int segments, int rings) {
    std::vector<std::vector<Vertex>> grid(rings + 1);
    for (int r = 0; r <= rings; ++r) {
        float polar = kPi * r / rings;
        for (int i = 0; i <= segments; ++i) {
            float azimuth = 2.0f * kPi * i / segments;
            Point3 out{std::sin(polar) * std::cos(azimuth), std::cos(polar),
                       std::sin(polar) * std::sin(azimuth)};
            grid[r].push_back(
                {add(centre, mul(out, radius)), out, 2.0f * i / segments, static_cast<float>(r) / rings});
        }
    }
    addSurface(mesh, grid);
}

void addTorus(MeshData& mesh, Point3 centre, float majorRadius, float minorRadius, int segments, int sides) {
    std::vector<std::vector<Vertex>> grid(sides + 1);
    for (int s = 0; s <= sides; ++s) {
        float tube = 2.0f * kPi * s / sides;
        for (int i = 0; i <= segments; ++i) {
            float around = 2.0f * kPi * i / segments;
            Point3 radial{std::cos(around), 0.0f, std::sin(around)};
            Point3 out = add(mul(radial, std::cos(tube)), {0.0f, std::sin(tube), 0.0f});
            Point3 p = add(add(centre, mul(radial, majorRadius)), mul(out, minorRadius));
            grid[s].push_back({p, out, 4.0f * i / segments, static_cast<float>(s) / sides});
        }
    }
    addSurface(mesh, grid);
}

void rotateMesh(MeshData& mesh, const float (&rotation)[9]) {
    for (std::vector<float>* values : {&mesh.positions, &mesh.normals}) {
        for (size_t i = 0; i < values->size(); i += 3) {
            float x = (*values)[i], y = (*values)[i + 1], z = (*values)[i + 2];
            for (int r = 0; r < 3; ++r)
                (*values)[i + r] = rotation[3 * r] * x + rotation[3 * r + 1] * y + rotation[3 * r + 2] * z;
        }
    }
}

void addArchBlock(MeshData& mesh, float halfWidth, float height, float halfDepth, float radius, int segments,
                  float uvPerUnit) {
    // Angles from the left springing (pi) to the right one (0), with the block's two upper
    // corners inserted so that every strip of a face ends on a single edge of the block.
    float corner = std::atan2(height, halfWidth);
    std::vector<float> angles;
    for (int i = 0; i <= segments; ++i) {
        float a = kPi * (1.0f - static_cast<float>(i) / segments);
        float previous = angles.empty() ? 2.0f * kPi : angles.back();
        for (float c : {kPi - corner, corner}) {
            if (c < previous - 1e-4f && c > a + 1e-4f) angles.push_back(c);
        }
        angles.push_back(a);
    }
    std::vector<Point3> inner, outer;
    for (float a : angles) {
        Point3 direction{std::cos(a), std::sin(a), 0.0f};
        float t = 1e9f;
        if (std::fabs(direction.x) > 1e-6f) t = std::min(t, halfWidth / std::fabs(direction.x));
        if (direction.y > 1e-6f) t = std::min(t, height / direction.y);
        inner.push_back(mul(direction, radius));
        outer.push_back(mul(direction, t));
    }
    for (float side : {1.0f, -1.0f}) {
        Point3 normal{0.0f, 0.0f, side};
        std::vector<std::vector<Vertex>> face(2);
        for (size_t i = 0; i < angles.size(); ++i) {
            Point3 pi{inner[i].x, inner[i].y, side * halfDepth};
            Point3 po{outer[i].x, outer[i].y, side * halfDepth};
            face[0].push_back({pi, normal, pi.x * uvPerUnit, pi.y * uvPerUnit});
            face[1].push_back({po, normal, po.x * uvPerUnit, po.y * uvPerUnit});
        }
        addSurface(mesh, face);
    }
    // The soffit: the underside of the arch, facing the opening's centre.
    std::vector<std::vector<Vertex>> soffit(2);
    float arc = 0.0f;
    for (size_t i = 0; i < angles.size(); ++i) {
        if (i > 0) arc += radius * (angles[i - 1] - angles[i]);
        Point3 normal = mul(normalise(inner[i]), -1.0f);
        for (int row = 0; row < 2; ++row) {
            float z = row == 0 ? -halfDepth : halfDepth;
            soffit[row].push_back({{inner[i].x, inner[i].y, z}, normal, arc * uvPerUnit, z * uvPerUnit});
        }
    }
    addSurface(mesh, soffit);
    float pierHalf = (halfWidth - radius) * 0.5f;
    addFace(mesh, {0.0f, height, 0.0f}, {halfWidth, 0, 0}, {0, 0, -halfDepth}, uvPerUnit);
    for (float side : {-1.0f, 1.0f}) {
        float pierCentre = side * (radius + pierHalf);
        addFace(mesh, {pierCentre, 0.0f, 0.0f}, {pierHalf, 0, 0}, {0, 0, halfDepth}, uvPerUnit);
        addFace(mesh, {side * halfWidth, height * 0.5f, 0.0f}, mul({0, 0, -halfDepth}, side),
                {0, height * 0.5f, 0}, uvPerUnit);
    }
}

void addHills(MeshData& mesh, float x0, float z0, float x1, float z1, float height, int64_t triangles) {
    if (triangles < 1) throw std::runtime_error("hills need at least one triangle");
    const int64_t quads = (triangles + 1) / 2;
    const int64_t rows = std::max<int64_t>(1, static_cast<int64_t>(std::sqrt(static_cast<double>(quads))));
    const int64_t columns = (quads + rows - 1) / rows;
    if ((rows + 1) * (columns + 1) > 0x7FFFFFFF) throw std::runtime_error("hills with too many vertices");
    // h = height * edge(x) * edge(z) * bumps(x, z): edge falls to 0 at the rectangle's border.
    const float width = x1 - x0, depth = z1 - z0;
    auto heightAt = [&](float s, float t) {
        float edge = std::sin(3.14159265f * s) * std::sin(3.14159265f * t);
        float bumps =
            0.6f + 0.25f * std::sin(9.0f * s) * std::cos(7.0f * t) + 0.15f * std::sin(23.0f * (s + t));
        return height * edge * bumps;
    };
    const uint32_t first = static_cast<uint32_t>(mesh.vertexCount());
    for (int64_t r = 0; r <= rows; ++r)
        for (int64_t c = 0; c <= columns; ++c) {
            float s = static_cast<float>(c) / static_cast<float>(columns);
            float t = static_cast<float>(r) / static_cast<float>(rows);
            // The normal from the height's slope, by central differences over one cell.
            float ds = 1.0f / static_cast<float>(columns), dt = 1.0f / static_cast<float>(rows);
            float dhdx = (heightAt(s + ds, t) - heightAt(s - ds, t)) / (2.0f * ds * width);
            float dhdz = (heightAt(s, t + dt) - heightAt(s, t - dt)) / (2.0f * dt * depth);
            Point3 position{x0 + s * width, heightAt(s, t), z0 + t * depth};
            pushVertex(mesh, {position, normalise({-dhdx, 1.0f, -dhdz}), s, t});
        }
    int64_t made = 0;
    for (int64_t r = 0; r < rows && made < triangles; ++r)
        for (int64_t c = 0; c < columns && made < triangles; ++c) {
            uint32_t a = first + static_cast<uint32_t>(r * (columns + 1) + c), b = a + 1;
            uint32_t d = a + static_cast<uint32_t>(columns + 1), e = d + 1;
            // Counter-clockwise seen from above (+y): a, d, b then b, d, e.
            mesh.indices.insert(mesh.indices.end(), {a, d, b});
            if (++made < triangles) mesh.indices.insert(mesh.indices.end(), {b, d, e});
            ++made;
        }
}
