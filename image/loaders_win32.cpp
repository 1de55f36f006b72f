// Reading image files into GDI bitmaps, and loading materials and skins into
// the caches (platform and GL side).
//
// [X] bitmap files through CreateDIBitmap, checked before GDI reads them;
//     OS/2 core headers handed over as an information header; bit fields
//     of 1 to 3 bits widened to 24 bits first
// [X] files other programs hold open, even for writing, read all the same
// [X] JPEG files through libjpeg and PNG files through libpng into a DIB
//     section; one whose name cannot be stored or resolved is reported as one
//     that cannot be opened. A PNG's transparency is laid over white for a
//     material (the block's colour shows through) and black for a skin
// [X] materials: read back (a JPEG's section is read in place), power-of-two
//     scaling (image/scale.h), texture upload
// [X] skins: top-down read back, grey-level heights
// [X] the material and skin choosers
// [X] a picture named by scene files that cannot be loaded is reported once
//     per library load; one the user has just chosen, every time
#include <windows.h>
#include <commdlg.h>
#include <GL/gl.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "geometry/numeric.h"
#include "host/library_state.h"
#include "host/paths.h"
#include "host/wide_names.h"
#include "image/bitmap_file.h"
#include "image/caches.h"
#include "image/jpeg_decode.h"
#include "image/png_decode.h"
#include "image/scale.h"

#ifndef GL_BGR_EXT
#define GL_BGR_EXT 0x80E0
#endif

namespace plexa::image {

namespace {

// A bitmap file larger than any picture under the pixel ceiling can need.
constexpr uint64_t kMaxBitmapFileBytes = 4 * static_cast<uint64_t>(kMaxImagePixels) + (1u << 20);

struct LoadedImage {
    HBITMAP bitmap = nullptr;
    int32_t width = 0;
    int32_t height = 0;
    ImageKind kind = ImageKind::Bitmap;
    const uint8_t* sectionRows = nullptr;   // a JPEG's or PNG's section memory: 24-bit rows, bottom-up, padded to four bytes
};

// The read-back header every load uses.
BITMAPINFOHEADER g_readHeader = {sizeof(BITMAPINFOHEADER), 32, 32, 1, 24, BI_RGB, 0, 0, 0, 0, 0};

bool readWholeFile(HANDLE file, std::vector<uint8_t>& data) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0 ||
        static_cast<uint64_t>(size.QuadPart) > kMaxBitmapFileBytes)
        return false;
    const size_t length = static_cast<size_t>(size.QuadPart);
    data.assign(length + kRunLengthGuard, 0);
    writeRunLengthGuard(data.data() + length);
    size_t done = 0;
    while (done < length) {
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(length - done > (1u << 30) ? (1u << 30) : length - done);
        if (!ReadFile(file, data.data() + done, want, &got, nullptr) || got == 0) return false;
        done += got;
    }
    data.resize(length + kRunLengthGuard);
    return true;
}

bool readBitmapFile(const char* storedName, HDC dc, LoadedImage& image) {
    // Stored names are relative to the plug-in directory. CreateFileA takes
    // names of any length up to the path limit, where OpenFile stops at 128.
    // A picture an editor keeps open, even for writing, is shared as OpenFile
    // and the JPEG side's fopen share it.
    // The stored bytes are ANSI text; the folder they are relative to may
    // hold any character, and the whole name may be past the plain limit.
    const host::LibraryState& state = host::library();
    host::enterDirectory(state.pluginFolder);
    const std::wstring name = host::systemName(state.pluginFolder, host::widen(storedName, CP_ACP));
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    host::enterDirectory(state.hostFolder);
    if (file == INVALID_HANDLE_VALUE) return false;

    std::vector<uint8_t> data;
    const bool read = readWholeFile(file, data);
    CloseHandle(file);
    if (!read) return false;

    BitmapLayout layout;
    if (checkBitmapFile(data.data(), data.size() - kRunLengthGuard, layout) != nullptr) return false;
    const BITMAPINFOHEADER* header = reinterpret_cast<const BITMAPINFOHEADER*>(data.data() + layout.headerOffset);
    std::vector<uint8_t> coreInfo;
    if (layout.coreHeader) {
        coreInfo = infoFromCoreHeader(data.data(), layout);
        header = reinterpret_cast<const BITMAPINFOHEADER*>(coreInfo.data());
    }
    const uint8_t* pixels = data.data() + layout.pixelOffset;
    std::vector<uint8_t> widened;
    if (layout.narrowFields) {
        widened = widenNarrowFields(data.data(), layout);
        header = reinterpret_cast<const BITMAPINFOHEADER*>(widened.data());
        pixels = widened.data() + sizeof(BITMAPINFOHEADER);
    }
    HBITMAP bitmap = CreateDIBitmap(dc, header, CBM_INIT, pixels, reinterpret_cast<const BITMAPINFO*>(header),
                                    DIB_RGB_COLORS);
    if (!bitmap) return false;
    image.bitmap = bitmap;
    image.width = layout.width;
    // A top-down file keeps its picture upright in the bitmap; only its size matters here.
    image.height = layout.height < 0 ? -layout.height : layout.height;
    image.kind = ImageKind::Bitmap;
    return true;
}

struct SectionTarget {
    HDC dc;
    HBITMAP section = nullptr;
};

// Names whose load failed since the library was loaded. A picture on an
// unplugged drive is named by every binding of every object that shows it:
// the user hears of it once, and later loads still try it, quietly, in case
// the drive is back.
std::set<std::string> g_failedNames;
bool g_quiet = false;

// Every box a load shows goes through here, whatever the picture's kind.
void tellUser(const char* caption, const char* text) {
    if (!g_quiet) MessageBoxA(nullptr, text, caption, MB_OK);
}

class LoadReports {
public:
    LoadReports(const char* name, bool chosen) : name_(name) { g_quiet = !chosen && g_failedNames.count(name_) > 0; }
    ~LoadReports() { g_quiet = false; }
    LoadReports(const LoadReports&) = delete;
    LoadReports& operator=(const LoadReports&) = delete;
    void failed() { g_failedNames.insert(name_); }

private:
    std::string name_;
};

void showDecoderMessage(void*, const char* caption, const char* text) {
    tellUser(caption, text);
}

// A JPEG or PNG that cannot be found or opened is named to the user; a bitmap is not.
void reportUnopened(const char* name) {
    switch (imageKindOf(name)) {
        case ImageKind::Jpeg: tellUser("can't open jpeg-file", name); break;
        case ImageKind::Png: tellUser("can't open png-file", name); break;
        case ImageKind::Bitmap: break;
    }
}

uint8_t* allocateSection(void* context, int32_t width, int32_t height, size_t) {
    SectionTarget& target = *static_cast<SectionTarget*>(context);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(height) * static_cast<DWORD>(width) * 3;
    void* bits = nullptr;
    target.section = CreateDIBSection(target.dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    return target.section ? static_cast<uint8_t*>(bits) : nullptr;
}

void releaseSection(void* context) {
    SectionTarget& target = *static_cast<SectionTarget*>(context);
    if (target.section) DeleteObject(target.section);
    target.section = nullptr;
}

// A JPEG or PNG, opened by its wide system name, decoded into a new DIB
// section; the boxes show `fullName`. `background` is what a PNG's
// transparent pixels are laid over.
bool decodeIntoSection(ImageKind kind, const std::wstring& systemName, const char* fullName, uint8_t background, HDC dc,
                       LoadedImage& image) {
    SectionTarget section{dc};
    JpegTarget target;
    target.context = &section;
    target.message = showDecoderMessage;
    target.allocate = allocateSection;
    target.release = releaseSection;
    JpegPicture picture;
    std::FILE* file = _wfopen(systemName.c_str(), L"rb");
    if (!file) {
        showDecoderMessage(nullptr, kind == ImageKind::Png ? "can't open png-file" : "can't open jpeg-file", fullName);
        return false;
    }
    const bool decoded = kind == ImageKind::Png ? decodePngStream(file, fullName, background, target, picture)
                                                : decodeJpegStream(file, fullName, target, picture);
    std::fclose(file);
    if (!decoded) return false;
    image.bitmap = section.section;
    image.width = picture.width;
    image.height = picture.height;
    image.kind = kind;
    image.sectionRows = picture.rows;
    return true;
}

bool loadImage(const char* storedName, uint8_t background, HDC dc, LoadedImage& image) {
    const ImageKind kind = imageKindOf(storedName);
    if (kind == ImageKind::Bitmap) return readBitmapFile(storedName, dc, image);
    // The boxes show the ANSI form; the file is opened by the wide one.
    const host::LibraryState& state = host::library();
    char fullName[MAX_PATH];
    std::u16string wide;
    const std::wstring stored = host::widen(storedName, CP_ACP);
    if (!host::resolvePath(std::u16string_view(reinterpret_cast<const char16_t*>(stored.data()), stored.size()),
                           std::u16string_view(reinterpret_cast<const char16_t*>(state.pluginFolder.data()),
                                               state.pluginFolder.size()),
                           wide)) {
        reportUnopened(storedName);
        return false;
    }
    if (!host::resolvePath(storedName, state.pluginDirectory, fullName, sizeof fullName))
        std::snprintf(fullName, sizeof fullName, "%s", storedName);
    return decodeIntoSection(kind,
                             host::systemName(L"", std::wstring_view(reinterpret_cast<const wchar_t*>(wide.data()), wide.size())),
                             fullName, background, dc, image);
}

// Pixel transfers below assume rows padded to four bytes, whatever the host
// set; the host's settings are given back afterwards.
struct PixelStoreDefaults {
    PixelStoreDefaults() {
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        for (GLenum name : {GL_UNPACK_ALIGNMENT, GL_PACK_ALIGNMENT}) glPixelStorei(name, 4);
        for (GLenum name : {GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_ROWS, GL_UNPACK_SKIP_PIXELS, GL_PACK_ROW_LENGTH,
                            GL_PACK_SKIP_ROWS, GL_PACK_SKIP_PIXELS})
            glPixelStorei(name, 0);
        glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
        glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
        glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
        glPixelStorei(GL_PACK_LSB_FIRST, GL_FALSE);
    }
    ~PixelStoreDefaults() { glPopClientAttrib(); }
};

struct DeviceContext {
    explicit DeviceContext(HWND owner) : window(owner), dc(GetDC(owner)) {}
    ~DeviceContext() { ReleaseDC(window, dc); }
    HWND window;
    HDC dc;
};

uint32_t uploadMaterial(const char* key, const LoadedImage& image, HDC dc) {
    const size_t pixels = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    // A JPEG's or PNG's section already holds, row for row, the very bytes a 24-bit
    // bottom-up read-back would copy out of it: it is scaled from where it is.
    std::unique_ptr<uint8_t[]> original;
    const uint8_t* rows = image.sectionRows;
    if (!rows) {
        original.reset(new uint8_t[pixels * 4]);
        g_readHeader.biWidth = image.width;
        g_readHeader.biHeight = image.height;
        g_readHeader.biSizeImage = static_cast<DWORD>(pixels * 3);
        if (!GetDIBits(dc, image.bitmap, 0, static_cast<UINT>(image.height), original.get(),
                       reinterpret_cast<BITMAPINFO*>(&g_readHeader), DIB_RGB_COLORS))
            return 0;
        rows = original.get();
    }

    // OpenGL 1.1 textures have power-of-two sides, no larger than the driver allows.
    GLint maxSide = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSide);
    if (maxSide < 64) maxSide = 64;
    int32_t width = roundToPowerOfTwo(image.width);
    int32_t height = roundToPowerOfTwo(image.height);
    while (width > maxSide) width /= 2;
    while (height > maxSide) height /= 2;

    PixelStoreDefaults store;
    std::unique_ptr<uint8_t[]> scaled(new uint8_t[paddedStride(width) * static_cast<size_t>(height)]);
    scaleImage(rows, image.width, image.height, scaled.get(), width, height, scalingThreads());
    original.reset();
    const uint32_t order = image.kind == ImageKind::Bitmap ? GL_BGR_EXT : GL_RGB;
    return textureCache().append(createTexture(key, width, height, scaled.get(), order)).id;
}

uint32_t convertSkin(const char* key, const LoadedImage& image, HDC dc) {
    const size_t stride = paddedStride(image.width);
    std::unique_ptr<uint8_t[]> rows(new uint8_t[stride * static_cast<size_t>(image.height)]);
    g_readHeader.biWidth = image.width;
    g_readHeader.biHeight = -image.height;   // top row first
    g_readHeader.biSizeImage = static_cast<DWORD>(stride * static_cast<size_t>(image.height));
    if (!GetDIBits(dc, image.bitmap, 0, static_cast<UINT>(image.height), rows.get(),
                   reinterpret_cast<BITMAPINFO*>(&g_readHeader), DIB_RGB_COLORS))
        return 0;
    auto entry = makeEntry(key, image.width, image.height);
    entry->heights = heightsFromPixels(rows.get(), image.width, image.height, stride);
    entry->id = static_cast<uint32_t>(skinCache().count() + 1);
    return skinCache().append(std::move(entry)).id;
}

using Converter = uint32_t (*)(const char*, const LoadedImage&, HDC);

uint32_t load(Cache& cache, const char* name, void* owner, uint8_t background, Converter convert, bool chosen) {
    if (!name) return 0;
    LoadReports reports(name, chosen);
    char key[scene::kNameCapacity];
    // A name whose stored form does not fit (a drive name far from a deeply
    // placed plug-in) cannot be opened by its stored form.
    if (!cacheKey(name, key)) {
        reportUnopened(name);
        reports.failed();
        return 0;
    }
    if (const CacheEntry* known = cache.findByName(key)) return known->id;
    DeviceContext context(static_cast<HWND>(owner));
    LoadedImage image;
    if (!loadImage(key, background, context.dc, image)) {
        reports.failed();
        return 0;
    }
    // A conversion that runs out of memory fails this load only (its caller
    // decides what is kept); the bitmap goes either way.
    struct Release {
        HBITMAP bitmap;
        ~Release() { DeleteObject(bitmap); }
    } release{image.bitmap};
    geometry::checkAllocation(static_cast<size_t>(image.width) * static_cast<size_t>(image.height) * 4);
    return convert(key, image, context.dc);
}

struct Chooser {
    char fileName[MAX_PATH];
    char fileTitle[512];
    const char* title;
};

Chooser g_materialChooser = {"", "", "Get Material Bitmap"};
Chooser g_skinChooser = {"", " ", "Get Skin Bitmap"};

constexpr char kImageFilter[] =
    "Supported Files (*.bmp;*.jpg;*.jpeg;*.jfif;*.png)\0*.bmp;*.jpg;*.jpeg;*.jfif;*.png\0"
    "Windows BitMap  (*.bmp)\0*.bmp\0"
    "JPEG-JFIF compliant (*.jpg;*.jpeg;*.jfif)\0*.jpg;*.jpeg;*.jfif\0"
    "PNG (*.png)\0*.png\0";

bool choose(Chooser& chooser, void* owner) {
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = static_cast<HWND>(owner);
    dialog.lpstrFilter = kImageFilter;
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = chooser.fileName;
    dialog.nMaxFile = sizeof chooser.fileName;
    dialog.lpstrFileTitle = chooser.fileTitle;
    dialog.nMaxFileTitle = sizeof chooser.fileTitle;
    dialog.lpstrTitle = chooser.title;
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_CREATEPROMPT;
    dialog.lpstrDefExt = "";
    return GetOpenFileNameA(&dialog) != 0;
}

}  // namespace

uint32_t loadMaterial(const char* name, void* owner) {
    return load(textureCache(), name, owner, kMaterialBackground, uploadMaterial, false);
}

uint32_t loadSkin(const char* name, void* owner) {
    return load(skinCache(), name, owner, kSkinBackground, convertSkin, false);
}

int64_t chooseMaterial(void* owner) {
    if (!choose(g_materialChooser, owner)) return -1;
    return load(textureCache(), g_materialChooser.fileName, owner, kMaterialBackground, uploadMaterial, true);
}

int64_t chooseSkin(void* owner) {
    if (!choose(g_skinChooser, owner)) return -1;
    return load(skinCache(), g_skinChooser.fileName, owner, kSkinBackground, convertSkin, true);
}

}  // namespace plexa::image
