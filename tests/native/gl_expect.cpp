#include "tests/native/gl_expect.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace plexa::testing {

namespace {

// Scaled by size, then about Y, X and Z, in double precision.
Vec3 scaleAndRotate(const scene::Block& block, const geometry::MeshEntry& p) {
    double x = p.x * static_cast<double>(block.size[0]);
    double y = p.y * static_cast<double>(block.size[1]);
    double z = p.z * static_cast<double>(block.size[2]);
    const double ax = block.rotation[0], ay = block.rotation[1], az = block.rotation[2];
    // About Y: x' = x c + z s, z' = -x s + z c.
    double nx = x * std::cos(ay) + z * std::sin(ay);
    double nz = -x * std::sin(ay) + z * std::cos(ay);
    x = nx, z = nz;
    // About X: y' = y c - z s, z' = y s + z c.
    double ny = y * std::cos(ax) - z * std::sin(ax);
    nz = y * std::sin(ax) + z * std::cos(ax);
    y = ny, z = nz;
    // About Z: x' = x c - y s, y' = x s + y c.
    nx = x * std::cos(az) - y * std::sin(az);
    ny = x * std::sin(az) + y * std::cos(az);
    return {nx, ny, z};
}

}  // namespace

Vec3 placePoint(const scene::Block& block, const geometry::MeshEntry& p) {
    const Vec3 v = scaleAndRotate(block, p);
    return {v.x + block.origin[0], v.y + block.origin[1], v.z + block.origin[2]};
}

Vec3 placeNormal(const scene::Block& block, const geometry::MeshEntry& n) {
    const Vec3 v = scaleAndRotate(block, n);
    const double length = std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
    if (length < 1e-12) return {0, 0, 0};
    return {v.x / length, v.y / length, v.z / length};
}

ExpectedList::ExpectedList(const scene::Block& block, bool appearance) : block_(block), appearance_(appearance) {}

float ExpectedList::d() const { return block_.textureId != 0 ? block_.density : 0.0f; }

void ExpectedList::call(const char* name, std::vector<double> args) { calls.push_back({name, std::move(args)}); }

void ExpectedList::normal(uint32_t k) {
    const Vec3 n = placeNormal(block_, block_.normals[k]);
    call("glNormal3f", {n.x, n.y, n.z});
}

void ExpectedList::vertex(uint32_t k, float s, float t) {
    if (appearance_) call("glTexCoord2f", {s, t});
    const Vec3 p = placePoint(block_, block_.vertices[k]);
    call("glVertex3f", {p.x, p.y, p.z});
}

void ExpectedList::table(GLenum mode, const char* text) {
    const float dExtent = d();
    const auto coordinate = [&](const char*& p) {
        while (*p == ' ' || *p == ',' || *p == '(') ++p;
        const float value = *p == 'D' ? dExtent : 0.0f;
        EXPECT_TRUE(*p == 'D' || *p == '0') << "bad coordinate in table: " << p;
        ++p;
        return value;
    };
    begin(mode);
    for (const char* p = text; *p;) {
        if (*p != 'N' && *p != 'P') {
            ++p;
            continue;
        }
        const char what = *p++;
        char* after = nullptr;
        const uint32_t k = static_cast<uint32_t>(std::strtoul(p, &after, 10));
        p = after;
        if (what == 'N') {
            normal(k);
            continue;
        }
        while (*p == ' ') ++p;
        if (*p == '(') {
            const float s = coordinate(p);
            const float t = coordinate(p);
            while (*p == ' ' || *p == ')') ++p;
            vertex(k, s, t);
        } else {
            vertex(k);
        }
    }
    end();
}

void ExpectedList::openFrame(bool smooth) {
    if (!appearance_) {
        disable(GL_TEXTURE_2D);
        color(block_.pickColor);
        return;
    }
    if (block_.textureId != 0)
        call("glBindTexture", {GL_TEXTURE_2D, static_cast<double>(block_.textureId)});
    else
        disable(GL_TEXTURE_2D);
    if (smooth) shadeModel(GL_SMOOTH);
    color(block_.color);
}

void ExpectedList::closeFrame(bool flatAfter) {
    if (appearance_ && flatAfter) shadeModel(GL_FLAT);
    enable(GL_TEXTURE_2D);
}

float part(uint32_t k, float d, uint32_t n) { return static_cast<float>(k) * d / static_cast<float>(n); }

namespace {

bool closeEnough(const GlCall& got, const GlCall& want) {
    if (got.name != want.name || got.args.size() != want.args.size()) return false;
    const bool approximate = got.name == "glVertex3f" || got.name == "glNormal3f";
    for (size_t i = 0; i < got.args.size(); ++i) {
        if (!approximate) {
            if (got.args[i] != want.args[i]) return false;
            continue;
        }
        const double tolerance = 1e-6 * std::max(1.0, std::fabs(want.args[i]));
        if (!(std::fabs(got.args[i] - want.args[i]) <= tolerance)) return false;
    }
    return true;
}

}  // namespace

::testing::AssertionResult sameCalls(const std::vector<GlCall>& got, const std::vector<GlCall>& want) {
    const size_t shared = std::min(got.size(), want.size());
    size_t i = 0;
    while (i < shared && closeEnough(got[i], want[i])) ++i;
    if (i == shared && got.size() == want.size()) return ::testing::AssertionSuccess();
    std::ostringstream out;
    out << "got " << got.size() << " calls, want " << want.size() << "; first difference at call " << i << ":";
    const size_t from = i >= 2 ? i - 2 : 0;
    for (size_t k = from; k < std::min(i + 3, std::max(got.size(), want.size())); ++k) {
        out << "\n  [" << k << "] got  " << (k < got.size() ? toString(got[k]) : "(none)");
        out << "\n  [" << k << "] want " << (k < want.size() ? toString(want[k]) : "(none)");
    }
    return ::testing::AssertionFailure() << out.str();
}

size_t count(const std::vector<GlCall>& calls, const char* name) {
    return static_cast<size_t>(
        std::count_if(calls.begin(), calls.end(), [&](const GlCall& c) { return c.name == name; }));
}

std::vector<size_t> primitiveSizes(const std::vector<GlCall>& calls) {
    std::vector<size_t> sizes;
    for (const GlCall& c : calls) {
        if (c.name == "glBegin") sizes.push_back(0);
        if (c.name == "glVertex3f" && !sizes.empty()) ++sizes.back();
    }
    return sizes;
}

}  // namespace plexa::testing
