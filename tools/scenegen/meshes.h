/* meshes.h — indexed triangle meshes for the demo's scene.

   A MeshData collects positions, normals, texture coordinates and 16-bit indices; the add
   functions append shapes in the mesh's own coordinates:

       MeshData column;
       addBox(column, {-0.25f, 0, -0.25f}, {0.25f, 0.2f, 0.25f}, 1.0f);
       addCylinder(column, {0, 0.2f, 0}, 0.18f, 2.3f, 12, 2.0f);

   Every vertex carries a normal and a texture coordinate; boxes and flat faces get one normal
   per face, round shapes smooth normals. Texture coordinates of flat surfaces are planar, in
   units of `uvPerUnit` repeats per unit of length, so neighbouring surfaces of one material
   share the texture's scale. Triangles wind counter-clockwise seen from the normal's side.
   Nothing here knows about glTF. */
#pragma once

#include <cstdint>
#include <vector>

struct Point3 {
    float x, y, z;
};

struct MeshData {
    std::vector<float> positions;  // x, y, z per vertex
    std::vector<float> normals;    // unit normal x, y, z per vertex
    std::vector<float> texcoords;  // u, v per vertex
    std::vector<uint32_t> indices; // three per triangle

    int vertexCount() const { return static_cast<int>(positions.size() / 3); }
};

// A quad p0 p1 p2 p3 (counter-clockwise around `normal`), with the texture coordinates given per corner.
void addQuad(MeshData& mesh, const Point3 (&corners)[4], Point3 normal, const float (&uv)[8]);

// A planar grid of `columns` x `rows` quads spanning origin + a * s + b * t for s, t in [0, 1].
void addGrid(MeshData& mesh, Point3 origin, Point3 a, Point3 b, int columns, int rows, float uvPerUnit);

// An axis-aligned box with outward faces.
void addBox(MeshData& mesh, Point3 minimum, Point3 maximum, float uvPerUnit);

// An open cylinder along +y from `base`, smooth sides.
void addCylinder(MeshData& mesh, Point3 base, float radius, float height, int segments, float uvPerUnit);

// A UV sphere around `centre`.
void addSphere(MeshData& mesh, Point3 centre, float radius, int segments, int rings);

// A torus around the y axis through `centre`.
void addTorus(MeshData& mesh, Point3 centre, float majorRadius, float minorRadius, int segments, int sides);

// Rolling hills over the rectangle [x0, x1] x [z0, z1] at y = 0 to about `height`, falling to
// 0 at its edges: exactly `triangles` triangles of a grid as square as the count allows, with
// smooth normals. For scenes of a chosen size (benchmarks, tests of large scenes).
void addHills(MeshData& mesh, float x0, float z0, float x1, float z1, float height, int64_t triangles);

// Turns every position and normal of the mesh by a rotation matrix (row-major 3 x 3).
void rotateMesh(MeshData& mesh, const float (&rotation)[9]);

// A block in the x-y plane from x = -halfWidth to halfWidth, y = 0 to height, z = -halfDepth to
// halfDepth, with a semicircular opening of `radius` centred at the origin: one bay of an arcade.
void addArchBlock(MeshData& mesh, float halfWidth, float height, float halfDepth, float radius, int segments,
                  float uvPerUnit);
