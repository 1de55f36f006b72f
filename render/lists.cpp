#include "render/lists.h"

#include <memory>

#include "geometry/mesh.h"
#include "render/gl.h"
#include "render/transform.h"
#include "scene/block.h"

namespace plexa::render {

using geometry::MeshEntry;

namespace {

struct DrawingStorage {
    std::unique_ptr<MeshEntry[]> vertices;
    std::unique_ptr<MeshEntry[]> normals;
    DrawingArrays view;
};

DrawingStorage& storage() {
    static DrawingStorage arrays;
    return arrays;
}

// k * d / n in single precision, the product first: every texture coordinate
// that steps across a face is formed this way.
float part(uint32_t k, float d, uint32_t n) { return static_cast<float>(k) * d / static_cast<float>(n); }

// Writes one list's geometry. The appearance list gives a texture coordinate
// before every vertex; the pick list gives none.
class ListWriter {
public:
    ListWriter(const MeshEntry* points, const MeshEntry* normals, bool appearance)
        : points_(points), normals_(normals), appearance_(appearance) {}

    bool appearance() const { return appearance_; }
    void normal(uint32_t k) const { glNormal3f(normals_[k].x, normals_[k].y, normals_[k].z); }
    void vertex(uint32_t k, float s, float t) const {
        if (appearance_) glTexCoord2f(s, t);
        glVertex3f(points_[k].x, points_[k].y, points_[k].z);
    }

private:
    const MeshEntry* points_;
    const MeshEntry* normals_;
    bool appearance_;
};

enum class Shading { AsCalled, Smooth };

// Opens the appearance list and returns the texture extent D: the density for
// a textured block, 0 otherwise so that every coordinate is (0, 0). The list
// never enables texturing before drawing; a textured block relies on the host
// having GL_TEXTURE_2D on.
float beginAppearance(const scene::Block& block, Shading shading) {
    glNewList(block.listBase, GL_COMPILE);
    float d = 0.0f;
    if (block.textureId != 0) {
        glBindTexture(GL_TEXTURE_2D, block.textureId);
        d = block.density;
    } else {
        glDisable(GL_TEXTURE_2D);
    }
    if (shading == Shading::Smooth) glShadeModel(GL_SMOOTH);
    glColor3fv(block.color);
    return d;
}

void beginPick(const scene::Block& block) {
    glNewList(block.listBase + 1, GL_COMPILE);
    glDisable(GL_TEXTURE_2D);
    glColor3fv(block.pickColor);
}

// Both lists end by turning texturing back on: the host draws textured after us.
void endList() {
    glEnable(GL_TEXTURE_2D);
    glEndList();
}

// ---------------------------------------------------------------- CUBE

void cubeGeometry(const ListWriter& w, float d) {
    // The strip shares its vertices, so neighbouring sides show the image mirrored.
    glBegin(GL_QUAD_STRIP);
    w.normal(0);
    w.vertex(0, 0, 0);
    w.vertex(1, 0, d);
    w.vertex(2, d, 0);
    w.vertex(3, d, d);
    w.normal(1);
    w.vertex(4, 0, 0);
    w.vertex(5, 0, d);
    w.normal(2);
    w.vertex(6, d, 0);
    w.vertex(7, d, d);
    w.normal(3);
    w.vertex(0, 0, 0);
    w.vertex(1, 0, d);
    glEnd();

    glBegin(GL_QUADS);
    w.normal(4);
    w.vertex(0, 0, 0);
    w.vertex(2, d, 0);
    w.vertex(4, d, d);
    w.vertex(6, 0, d);
    w.normal(5);
    w.vertex(1, 0, d);
    w.vertex(7, d, d);
    w.vertex(5, d, 0);
    w.vertex(3, 0, 0);
    glEnd();
}

void buildCubeLists(const scene::Block& block, const MeshEntry* p, const MeshEntry* n) {
    const float d = beginAppearance(block, Shading::AsCalled);
    cubeGeometry(ListWriter(p, n, true), d);
    endList();
    beginPick(block);
    cubeGeometry(ListWriter(p, n, false), 0);
    endList();
}

// ---------------------------------------------------------------- TRIANGLE

void triangleGeometry(const ListWriter& w, float d) {
    glBegin(GL_QUAD_STRIP);   // base, +x slope, -x slope
    w.normal(0);
    w.vertex(0, 0, 0);
    w.vertex(1, 0, d);
    w.vertex(2, d, 0);
    w.vertex(3, d, d);
    w.normal(1);
    w.vertex(4, 0, 0);
    w.vertex(5, 0, d);
    w.normal(2);
    w.vertex(0, d, 0);
    w.vertex(1, d, d);
    glEnd();

    glBegin(GL_TRIANGLES);   // the two ends
    w.normal(3);
    w.vertex(0, 0, 0);
    w.vertex(2, d, 0);
    w.vertex(4, d, d);
    w.normal(4);
    if (w.appearance()) {
        w.vertex(5, 0, d);
        w.vertex(3, d, d);
        w.vertex(1, d, 0);
    } else {
        // The same triangle started one corner later: same winding, same pixels.
        w.vertex(1, 0, 0);
        w.vertex(5, 0, 0);
        w.vertex(3, 0, 0);
    }
    glEnd();
}

void buildTriangleLists(const scene::Block& block, const MeshEntry* p, const MeshEntry* n) {
    const float d = beginAppearance(block, Shading::AsCalled);
    triangleGeometry(ListWriter(p, n, true), d);
    endList();
    beginPick(block);
    triangleGeometry(ListWriter(p, n, false), 0);
    endList();
}

// ---------------------------------------------------------------- CYLINDER

void cylinderGeometry(const ListWriter& w, const MeshEntry* unit, uint32_t n, float d) {
    glBegin(GL_QUAD_STRIP);   // the side: s falls from D at segment 0 to 0 at the seam
    for (uint32_t l = 0; l < n; ++l) {
        const float s = d - part(l, d, n);
        w.normal(l);
        w.vertex(2 * l, s, 0);
        w.vertex(2 * l + 1, s, d);
    }
    // The pick list closes the strip under the last segment's normal.
    if (w.appearance()) w.normal(0);
    w.vertex(0, 0, 0);
    w.vertex(1, 0, d);
    glEnd();

    if (w.appearance()) glShadeModel(GL_FLAT);

    // Cap coordinates come from the unit mesh, so the image keeps its size
    // whatever the block's size and rotation.
    const auto capVertex = [&](uint32_t k) {
        const float s = static_cast<float>((unit[k].x + 0.5) * d);
        const float t = static_cast<float>((unit[k].z - 0.5) * d);
        w.vertex(k, s, t);
    };
    glBegin(GL_POLYGON);   // bottom cap
    w.normal(n);
    for (uint32_t l = 0; l < n; ++l) capVertex(2 * l);
    glEnd();
    glBegin(GL_POLYGON);   // top cap, the rim in falling order
    w.normal(n + 1);
    for (uint32_t l = n; l-- > 0;) capVertex(2 * l + 1);
    glEnd();
}

void buildCylinderLists(const scene::Block& block, const MeshEntry* p, const MeshEntry* nrm, uint32_t n) {
    const MeshEntry* unit = block.vertices.get();
    const float d = beginAppearance(block, Shading::Smooth);
    cylinderGeometry(ListWriter(p, nrm, true), unit, n, d);
    endList();
    beginPick(block);
    cylinderGeometry(ListWriter(p, nrm, false), unit, n, 0);
    endList();
}

// ---------------------------------------------------------------- SPHERE

void sphereGeometry(const ListWriter& w, uint32_t n, float d) {
    // One strip per band between ring i and ring i + 1; an odd fineness stops
    // short of the bottom pole and leaves it open.
    for (uint32_t i = 0; i < n / 2; ++i) {
        const uint32_t ring = i * n;
        const float top = d - part(2 * i, d, n);
        const float bottom = d - part(2 * (i + 1), d, n);
        glBegin(GL_TRIANGLE_STRIP);
        for (uint32_t h = 0; h < n; ++h) {
            const float s = part(h, d, n);
            w.normal(ring + h);
            w.vertex(ring + h, s, top);
            w.normal(ring + h + n);
            w.vertex(ring + h + n, s, bottom);
        }
        // The closing pair repeats the first column at s = n * D / n.
        const float closing = part(n, d, n);
        w.normal(ring);
        w.vertex(ring, closing, top);
        w.normal(ring + n);
        w.vertex(ring + n, closing, bottom);
        glEnd();
    }
}

void buildSphereLists(const scene::Block& block, const MeshEntry* p, const MeshEntry* nrm, uint32_t n) {
    const float d = beginAppearance(block, Shading::Smooth);
    sphereGeometry(ListWriter(p, nrm, true), n, d);
    glShadeModel(GL_FLAT);
    endList();
    beginPick(block);
    sphereGeometry(ListWriter(p, nrm, false), n, 0);
    endList();
}

// ---------------------------------------------------------------- PLANE

void planeGeometry(const ListWriter& w, uint32_t n, uint32_t b, float d) {
    // Only the appearance list has the underside: picking happens from above.
    if (w.appearance()) {
        glBegin(GL_QUADS);
        w.normal(b - 4);
        w.vertex(b - 4, 0, d);
        w.normal(b - 3);
        w.vertex(b - 3, d, d);
        w.normal(b - 2);
        w.vertex(b - 2, d, 0);
        w.normal(b - 1);
        w.vertex(b - 1, 0, 0);
        glEnd();
    }
    const uint32_t row = n + 1;
    for (uint32_t r = 0; r < n; ++r) {
        const float top = d - part(r, d, n);
        const float bottom = d - part(r + 1, d, n);
        glBegin(GL_TRIANGLE_STRIP);
        for (uint32_t c = 0; c <= n; ++c) {
            const uint32_t j = r * row + c;
            const float s = part(c, d, n);
            w.normal(j);
            w.vertex(j, s, top);
            w.normal(j + row);
            w.vertex(j + row, s, bottom);
        }
        glEnd();
    }
}

void buildPlaneLists(const scene::Block& block, const MeshEntry* p, const MeshEntry* nrm, uint32_t n) {
    const float d = beginAppearance(block, Shading::Smooth);
    planeGeometry(ListWriter(p, nrm, true), n, block.vertexCount, d);
    glShadeModel(GL_FLAT);
    endList();
    beginPick(block);
    planeGeometry(ListWriter(p, nrm, false), n, block.vertexCount, 0);
    endList();
}

// The builders read fixed index ranges of the kind and fineness; a mesh of any
// other size would be read past its end.
bool meshFitsKind(const scene::Block& block) {
    const geometry::MeshCounts counts = geometry::meshCounts(block.kind, block.fineness);
    return block.vertices && block.normals && block.vertexCount == counts.vertices &&
           block.normalCount == counts.normals;
}

}  // namespace

const DrawingArrays& drawingArrays() { return storage().view; }

void reserveDrawingArrays(uint32_t vertices, uint32_t normals) {
    // Kept between compilations: the largest block so far decides the size,
    // and the ceiling bounds it.
    DrawingStorage& s = storage();
    if (vertices > s.view.vertexCapacity) {
        s.vertices.reset(geometry::s_matrix(static_cast<int32_t>(vertices)));
        s.view.vertices = s.vertices.get();
        s.view.vertexCapacity = vertices;
    }
    if (normals > s.view.normalCapacity) {
        s.normals.reset(geometry::s_matrix(static_cast<int32_t>(normals)));
        s.view.normals = s.normals.get();
        s.view.normalCapacity = normals;
    }
}

void compileLists(scene::Block& block) {
    if (!scene::isBlockKind(block.kind) || !meshFitsKind(block)) return;
    reserveDrawingArrays(block.vertexCount, block.normalCount);
    const DrawingArrays& arrays = drawingArrays();
    transformMesh(block, arrays.vertices, arrays.normals);
    const MeshEntry* p = arrays.vertices;
    const MeshEntry* nrm = arrays.normals;
    const uint32_t n = geometry::meshFineness(block.fineness);
    switch (block.kind) {
        case scene::CUBE: buildCubeLists(block, p, nrm); break;
        case scene::TRIANGLE: buildTriangleLists(block, p, nrm); break;
        case scene::CYLINDER: buildCylinderLists(block, p, nrm, n); break;
        case scene::SPHERE: buildSphereLists(block, p, nrm, n); break;
        case scene::PLANE: buildPlaneLists(block, p, nrm, n); break;
    }
}

}  // namespace plexa::render
