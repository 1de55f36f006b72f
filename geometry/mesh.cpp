#include "geometry/mesh.h"

#include <cmath>
#include <memory>

#include "scene/block.h"

namespace plexa::geometry {

namespace {

constexpr double kPi = 3.141592653589793;

MeshEntry entry(float x, float y, float z) { return MeshEntry{x, y, z, 1.0f}; }

void buildCube(MeshEntry* v, MeshEntry* nrm) {
    v[0] = entry(-0.5f, -0.5f, 0.5f);
    v[1] = entry(-0.5f, 0.5f, 0.5f);
    v[2] = entry(-0.5f, -0.5f, -0.5f);
    v[3] = entry(-0.5f, 0.5f, -0.5f);
    v[4] = entry(0.5f, -0.5f, -0.5f);
    v[5] = entry(0.5f, 0.5f, -0.5f);
    v[6] = entry(0.5f, -0.5f, 0.5f);
    v[7] = entry(0.5f, 0.5f, 0.5f);
    nrm[0] = faceNormal(v[0], v[1], v[2]);
    nrm[1] = faceNormal(v[2], v[3], v[4]);
    nrm[2] = faceNormal(v[4], v[5], v[6]);
    nrm[3] = faceNormal(v[6], v[7], v[0]);
    nrm[4] = faceNormal(v[0], v[2], v[4]);
    nrm[5] = faceNormal(v[7], v[5], v[3]);
}

void buildTriangle(MeshEntry* v, MeshEntry* nrm) {
    v[0] = entry(-0.5f, 0.0f, 0.5f);
    v[1] = entry(-0.5f, 0.0f, -0.5f);
    v[2] = entry(0.5f, 0.0f, 0.5f);
    v[3] = entry(0.5f, 0.0f, -0.5f);
    v[4] = entry(0.0f, 0.5f, 0.5f);
    v[5] = entry(0.0f, 0.5f, -0.5f);
    nrm[0] = faceNormal(v[0], v[1], v[2]);
    nrm[1] = faceNormal(v[2], v[3], v[4]);
    nrm[2] = faceNormal(v[4], v[5], v[0]);
    nrm[3] = faceNormal(v[0], v[2], v[4]);
    nrm[4] = faceNormal(v[5], v[3], v[1]);
}

void buildCylinder(MeshEntry* v, MeshEntry* nrm, uint32_t n) {
    for (uint32_t l = 0; l < n; ++l) {
        const double phi = l * kPi * 2.0 / n;
        const float sx = static_cast<float>(std::sin(phi) * -0.5);
        const float cz = static_cast<float>(std::cos(phi) * 0.5);
        v[2 * l] = entry(sx, -0.5f, cz);
        v[2 * l + 1] = entry(sx, 0.5f, cz);
        nrm[l] = entry(sx, 0.0f, cz);
    }
    // The caps' normals come from rim vertices 0, 2, 4 and 5, 3, 1, which exist
    // from three segments on; the reader never gives a cylinder fewer than 8.
    if (n >= 3) {
        nrm[n] = faceNormal(v[0], v[2], v[4]);
        nrm[n + 1] = faceNormal(v[5], v[3], v[1]);
    } else {
        nrm[n] = entry(0.0f, -1.0f, 0.0f);
        nrm[n + 1] = entry(0.0f, 1.0f, 0.0f);
    }
}

void buildSphere(MeshEntry* v, MeshEntry* nrm, uint32_t n) {
    // Every ring uses the same n column angles. Taking their sines and cosines
    // once instead of once per vertex gives the same doubles and keeps a
    // sphere at the ceiling from spending its build on 10^6 trigonometric calls.
    std::unique_ptr<double[]> columnCos(new double[n]);
    std::unique_ptr<double[]> columnSin(new double[n]);
    for (uint32_t j = 0; j < n; ++j) {
        const double phi = j * kPi * 2.0 / n;
        columnCos[j] = std::cos(phi);
        columnSin[j] = std::sin(phi);
    }
    const uint32_t rings = n / 2 + 1;
    for (uint32_t i = 0; i < rings; ++i) {
        const double theta = i * kPi * 2.0 / n;
        const float s = static_cast<float>(std::sin(theta) * -0.5);
        const float c = static_cast<float>(std::cos(theta) * 0.5);
        MeshEntry* ring = v + static_cast<size_t>(i) * n;
        MeshEntry* ringNormals = nrm + static_cast<size_t>(i) * n;
        for (uint32_t j = 0; j < n; ++j) {
            const float x = static_cast<float>(columnCos[j] * s);
            const float z = static_cast<float>(-(columnSin[j] * s));
            // Both stores from the value, not the second from the first: reading
            // back an entry just written in pieces stalls on every vertex.
            const MeshEntry vertex = entry(x, c, z);
            ring[j] = vertex;
            ringNormals[j] = vertex;
        }
    }
}

void buildPlane(MeshEntry* v, MeshEntry* nrm, uint32_t n) {
    const float step = static_cast<float>(1.0 / n);
    for (uint32_t r = 0; r <= n; ++r) {
        const float rowProduct = static_cast<float>(r) * step;
        const float z = static_cast<float>(static_cast<double>(rowProduct) - 0.5);
        for (uint32_t k = 0; k <= n; ++k) {
            const float columnProduct = static_cast<float>(k) * step;
            const float x = static_cast<float>(static_cast<double>(columnProduct) - 0.5);
            v[r * (n + 1) + k] = entry(x, 0.0f, z);
            nrm[r * (n + 1) + k] = entry(0.0f, 1.0f, 0.0f);
        }
    }
    const uint32_t under = (n + 1) * (n + 1);
    v[under + 0] = entry(-0.5f, 0.0f, -0.5f);
    v[under + 1] = entry(0.5f, 0.0f, -0.5f);
    v[under + 2] = entry(0.5f, 0.0f, 0.5f);
    v[under + 3] = entry(-0.5f, 0.0f, 0.5f);
    for (uint32_t u = 0; u < 4; ++u) nrm[under + u] = entry(0.0f, -1.0f, 0.0f);
}

}  // namespace

// Counts are formed from a fineness that never exceeds the ceiling, so every
// product below stays far inside 32 bits.
uint32_t meshFineness(int32_t fineness) {
    if (fineness < 1) return 1;
    if (fineness > kFinenessCeiling) return kFinenessCeiling;
    return static_cast<uint32_t>(fineness);
}

int32_t finerFineness(int32_t fineness) {
    // Doubling is only done below the ceiling, where it cannot overflow.
    if (fineness >= kFinenessCeiling) return fineness;
    if (fineness <= kCommandFloor / 2) return kCommandFloor;
    const int32_t doubled = 2 * fineness;
    return doubled > kFinenessCeiling ? kFinenessCeiling : doubled;
}

int32_t rougherFineness(int32_t fineness) {
    const int32_t halved = fineness / 2;
    if (halved <= kCommandFloor) return kCommandFloor;
    return halved > kFinenessCeiling ? kFinenessCeiling : halved;
}

MeshCounts meshCounts(int32_t kind, int32_t fineness) {
    const uint32_t n = meshFineness(fineness);
    switch (kind) {
        case scene::CUBE: return {8, 6};
        case scene::TRIANGLE: return {6, 5};
        case scene::CYLINDER: return {2 * n, n + 2};
        case scene::SPHERE: return {n * (n / 2 + 1), n * (n / 2 + 1)};
        case scene::PLANE: return {(n + 1) * (n + 1) + 4, (n + 1) * (n + 1) + 4};
        default: return {0, 0};
    }
}

MeshEntry faceNormal(const MeshEntry& a, const MeshEntry& b, const MeshEntry& c) {
    const float ux = a.x - b.x, uy = a.y - b.y, uz = a.z - b.z;
    const float vx = a.x - c.x, vy = a.y - c.y, vz = a.z - c.z;
    const float nx = uy * vz - uz * vy;
    const float ny = uz * vx - ux * vz;
    const float nz = ux * vy - uy * vx;
    const float length = std::sqrt(nx * nx + ny * ny + nz * nz);
    if (length == 0.0f) return MeshEntry{0.0f, 0.0f, 0.0f, 1.0f};
    return MeshEntry{nx / length, ny / length, nz / length, 1.0f};
}

namespace {

// Writes the kind's mesh into arrays already sized for it.
void fillMesh(scene::Block& block) {
    MeshEntry* v = block.vertices.get();
    MeshEntry* nrm = block.normals.get();
    const uint32_t n = meshFineness(block.fineness);
    switch (block.kind) {
        case scene::CUBE: buildCube(v, nrm); break;
        case scene::TRIANGLE: buildTriangle(v, nrm); break;
        case scene::CYLINDER: buildCylinder(v, nrm, n); break;
        case scene::SPHERE: buildSphere(v, nrm, n); break;
        case scene::PLANE: buildPlane(v, nrm, n); break;
    }
}

}  // namespace

void buildMesh(scene::Block& block) {
    if (!scene::isBlockKind(block.kind)) return;
    const MeshCounts counts = meshCounts(block.kind, block.fineness);
    // Both arrays are taken before either is given to the block: a shortage
    // leaves the block with the mesh it had.
    std::unique_ptr<MeshEntry[]> vertices(s_matrix(static_cast<int32_t>(counts.vertices)));
    std::unique_ptr<MeshEntry[]> normals(s_matrix(static_cast<int32_t>(counts.normals)));
    block.vertices = std::move(vertices);
    block.normals = std::move(normals);
    block.vertexCount = counts.vertices;
    block.normalCount = counts.normals;
    fillMesh(block);
}

void rebuildMesh(scene::Block& block) {
    // Arrays of the right size are written over rather than freed and taken
    // again: the result is the same, and a sphere at the ceiling would
    // otherwise spend most of its rebuild on fresh pages from the system.
    const MeshCounts counts = meshCounts(block.kind, block.fineness);
    if (scene::isBlockKind(block.kind) && block.vertices && block.normals && block.vertexCount == counts.vertices &&
        block.normalCount == counts.normals) {
        fillMesh(block);
        return;
    }
    buildMesh(block);
}

}  // namespace plexa::geometry
