#include "sample_desktop.h"

#include "desktop_file.h"

#include "host/host_records.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace plexa::refhost {

namespace od = plexa::host::object_data;

namespace {

// Laid out for the host's camera (view_math.cpp): nothing hides another
// completely, the translucent sphere stands in front of opaque ones so that
// they show through it, and every object rests on or above the floor at
// y = -0.5 (a sphere of size s at height s/2 - 0.5).
const std::vector<SampleObject> kSample = {
    // A coarse sphere: fineness 6 shows its facets.
    {101, {-2.55f, 0.0f, -0.6f}, "SPHERE", 6, {1.0f, 1.0f, 1.0f}, {0.0f, 0.3f, 0.0f}, {0.92f, 0.36f, 0.22f}, "", "", 0.0f},
    {102, {-1.6f, -0.15f, 1.4f}, "SPHERE", 12, {0.7f, 0.7f, 0.7f}, {0.0f, 0.0f, 0.0f}, {0.36f, 0.76f, 0.34f}, "", "", 0.0f},
    {103, {-0.7f, 0.3f, -1.9f}, "SPHERE", 48, {1.6f, 1.6f, 1.6f}, {0.0f, 0.0f, 0.0f}, {0.85f, 0.90f, 1.0f}, "samples\\wood-640x480.jpg", "", 0.0f},
    // A panel standing up, turned towards the viewer.
    {104, {2.4f, 0.05f, -1.9f}, "PLANE", 4, {1.5f, 1.0f, 1.1f}, {1.15f, -0.5f, 0.0f}, {0.95f, 0.80f, 0.25f}, "", "", 0.0f},
    // A ramp in front, tilted towards the viewer.
    {105, {1.25f, -0.32f, 2.0f}, "PLANE", 48, {1.5f, 1.0f, 1.0f}, {0.3f, -0.3f, 0.0f}, {0.20f, 0.70f, 0.68f}, "", "samples\\skin-bumps-100.bmp", 0.0f, 0.35f},
    // Stretched and tilted: size and rotation at work on a sphere.
    {106, {1.1f, -0.05f, -0.5f}, "SPHERE", 64, {1.3f, 0.8f, 0.8f}, {0.0f, 0.0f, 0.35f}, {0.96f, 0.70f, 0.20f}, "", "samples\\skin-bumps-256x128.jpg", 0.0f, -0.3f},
    // Translucent: bright parts cover what lies behind, dark parts let it through.
    {107, {0.3f, 0.05f, 1.0f}, "SPHERE", 24, {1.1f, 1.1f, 1.1f}, {0.0f, 0.0f, 0.0f}, {0.60f, 0.85f, 1.0f}, "samples\\quad-64.jpg", "", 1.0f},
    {108, {2.6f, -0.2f, 0.25f}, "SPHERE", 8, {0.6f, 0.6f, 0.6f}, {0.0f, 0.4f, 0.0f}, {0.70f, 0.40f, 0.90f}, "", "", 0.0f},
};

std::string format(const char* pattern, double a, double b, double c) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, pattern, a, b, c);
    return buffer;
}

std::string format(const char* pattern, double a) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, pattern, a);
    return buffer;
}

uint8_t colourByte(float value) {
    const float clamped = value < 0.0f ? 0.0f : (value > 1.0f ? 1.0f : value);
    return static_cast<uint8_t>(std::lround(clamped * 255.0f));
}

}  // namespace

const std::vector<SampleObject>& sampleObjects() {
    return kSample;
}

std::vector<DesktopObject> sampleDesktop() {
    std::vector<DesktopObject> desktop;
    for (size_t i = 0; i < kSample.size(); ++i) {
        const SampleObject& sample = kSample[i];
        DesktopObject object;
        object.key = sample.key;
        std::memcpy(object.position, sample.position, sizeof object.position);
        std::memcpy(object.data.data() + od::kTagOffset, "PLX", 4);
        const std::string name = sceneFileNameFor(i);
        std::memcpy(object.data.data() + od::kNameOffset, name.c_str(), name.size() + 1);
        for (int channel = 0; channel < 3; ++channel) {
            object.data[od::kColorOffset + channel] = colourByte(sample.colour[channel]);
        }
        desktop.push_back(object);
    }
    return desktop;
}

std::string sceneFileNameFor(size_t index) {
    char name[32];
    std::snprintf(name, sizeof name, "defplx%02u.880", static_cast<unsigned>(index));
    return name;
}

std::string sceneBlockLine(const SampleObject& object) {
    std::string line = object.kind + std::to_string(object.fineness) + " ";
    line += format("ORG[%+2.2f,%+2.2f,%+2.2f] ", 0.0, 0.0, 0.0);
    line += format("SIZE[%+2.2f,%+2.2f,%+2.2f] ", object.size[0], object.size[1], object.size[2]);
    line += format("ROT[%f,%f,%f] ", object.rotation[0], object.rotation[1], object.rotation[2]);
    line += format("RGB[%+2.2f,%+2.2f,%+2.2f] ", object.colour[0], object.colour[1], object.colour[2]);
    line += std::string("TEXTURE[") + (object.material[0] ? object.material : " ") + "] ";
    line += format("DENS[%2.4f] ", 1.0);
    line += std::string("SKIN[") + (object.skin[0] ? object.skin : " ") + "] ";
    line += format("SKINSCALE[%2.4f] ", object.skinScale);
    line += "SHORTCUT[ ] ";
    line += format("TRANS[%1.0f] ", object.translucency);
    line += "\n";
    return line;
}

std::string sceneFileText(const SampleObject& object) {
    // The plug-in's own header, so that the file reads the same before and
    // after the plug-in has written it back.
    return "880\n"
           "//^always first, its the file id !!\n\n"
           "//kind:  origin[x,y,z]:         size[x,y,z]:            rotation[x,y,z]:       color[R,G,B]"
           "           texture file: density:            skinfile: scale: \n\n" +
           sceneBlockLine(object);
}

NewFileStatus writeNewTextFile(const std::string& path, const std::string& text, std::string* error) {
#ifdef _WIN32
    const int fd = _wopen(wideOf(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_TEXT, _S_IREAD | _S_IWRITE);
#else
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
#endif
    if (fd < 0) {
        if (errno == EEXIST) return NewFileStatus::AlreadyThere;
        if (error) *error = "cannot create " + path + ": " + std::strerror(errno);
        return NewFileStatus::Failed;
    }
    size_t done = 0;
    bool ok = true;
    while (ok && done < text.size()) {
#ifdef _WIN32
        const int wrote = _write(fd, text.data() + done, static_cast<unsigned>(text.size() - done));
#else
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
#endif
        if (wrote <= 0) ok = false;
        else done += static_cast<size_t>(wrote);
    }
    const int savedErrno = errno;
#ifdef _WIN32
    ok = _close(fd) == 0 && ok;
#else
    ok = close(fd) == 0 && ok;
#endif
    if (!ok) {
        if (error) *error = "cannot write " + path + ": " + std::strerror(savedErrno);
        // Half a scene file would be read as a damaged scene; none at all
        // gives the default sphere.
#ifdef _WIN32
        DeleteFileW(wideOf(path).c_str());
#else
        std::remove(path.c_str());
#endif
        return NewFileStatus::Failed;
    }
    return NewFileStatus::Written;
}

}  // namespace plexa::refhost
