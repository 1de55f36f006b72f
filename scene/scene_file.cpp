#include "scene/scene_file.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "geometry/mesh.h"
#include "geometry/numeric.h"
#include "host/library_state.h"
#include "host/paths.h"
#include "image/caches.h"
#include "scene/file_commit.h"
#include "scene/scene.h"

namespace plexa::scene {

namespace {

#if defined(_WIN32)
constexpr const char* kReadMode = "rt";
#else
constexpr const char* kReadMode = "r";
#endif

// ---------------------------------------------------------------- numbers

enum class NumberRead { Converted, Nothing, Blank };

// Reads a "%f" value. Infinities, NaNs and values beyond float's range convert
// nothing: they would spread through every coordinate derived from them.
NumberRead readFloat(const char* token, float& out) {
    const char* p = token;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0') return NumberRead::Blank;
    char* end = nullptr;
    const float value = std::strtof(p, &end);
    if (end == p || !std::isfinite(value)) return NumberRead::Nothing;
    out = value;
    return NumberRead::Converted;
}

// Reads the digits after a kind keyword as "%d" would, but saturating instead of
// overflowing, and keeps the result between the kind's minimum and the ceiling.
// Text that holds no number gives the minimum.
int32_t readFineness(const char* text, int32_t minimum) {
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    if (!std::isdigit(static_cast<unsigned char>(*p))) return minimum;
    long long value = 0;
    for (; std::isdigit(static_cast<unsigned char>(*p)); ++p)
        if (value <= geometry::kFinenessCeiling) value = value * 10 + (*p - '0');
    if (negative) value = -value;
    if (value < minimum) return minimum;
    if (value > geometry::kFinenessCeiling) return geometry::kFinenessCeiling;
    return static_cast<int32_t>(value);
}

// ---------------------------------------------------------------- keys

enum class Key { Org, Size, Rot, Rgb, Texture, Dens, Skin, SkinScale, Shortcut, Trans, None };

struct KeyWord {
    const char* word;
    Key key;
};

constexpr KeyWord kKeyWords[] = {
    {"ORG", Key::Org},   {"SIZE", Key::Size},         {"ROT", Key::Rot},
    {"RGB", Key::Rgb},   {"TEXTURE", Key::Texture},   {"DENS", Key::Dens},
    {"SKIN", Key::Skin}, {"SKINSCALE", Key::SkinScale}, {"SHORTCUT", Key::Shortcut},
    {"TRANS", Key::Trans},
};

bool keyWord(const char* token, Key& key) {
    for (const KeyWord& entry : kKeyWords) {
        if (std::strcmp(token, entry.word) == 0) {
            key = entry.key;
            return true;
        }
    }
    return false;
}

bool isNameKey(Key key) { return key == Key::Texture || key == Key::Skin || key == Key::Shortcut; }

// A name must hold more than white space: the line feed at the end of a line
// is a token of its own after a name key, and no file is named by it.
bool isNameValue(const char* token) {
    if (token[0] == '\0' || token[0] == ' ' || token[0] == '\t') return false;
    for (const char* p = token; *p; ++p)
        if (!std::isspace(static_cast<unsigned char>(*p))) return true;
    return false;
}

bool fitsName(const char* token) { return std::strlen(token) < kNameCapacity; }

void readComponent(Key key, float* field, int valueIndex, const char* token) {
    static const char* const kMessages[] = {"ERROR in ORG Coord", "ERROR in SIZE Coord",
                                            "ERROR in ROT Coord", "ERROR in RGB Coord"};
    // A fourth value and beyond has no component to go to.
    if (valueIndex >= 3) return;
    float value;
    switch (readFloat(token, value)) {
        case NumberRead::Converted: field[valueIndex] = value; break;
        case NumberRead::Nothing: geometry::logError(kMessages[static_cast<int>(key)]); break;
        case NumberRead::Blank: break;
    }
}

void readScalar(float& field, const char* token, const char* message) {
    float value;
    switch (readFloat(token, value)) {
        case NumberRead::Converted: field = value; break;
        case NumberRead::Nothing: geometry::logError(message); break;
        case NumberRead::Blank: break;
    }
}

void readShortcut(Block& block, const char* token) {
    block.shortcut[0] = '\0';
    // A name that cannot be kept whole would open some other file.
    if (!fitsName(token)) {
        geometry::logError("ERROR in SHORTCUT name");
        return;
    }
    // A stored form too long for a name falls back to the full name, which
    // opens from anywhere.
    if (token[1] == ':' &&
        host::makeRelative(token, host::library().pluginDirectory, block.shortcut, sizeof block.shortcut))
        return;
    std::memcpy(block.shortcut, token, std::strlen(token) + 1);
}

uint32_t readImageName(const char* token, bool material) {
    if (!fitsName(token)) {
        geometry::logError(material ? "ERROR in TEXTURE name" : "ERROR in SKIN name");
        return 0;
    }
    void* owner = host::library().hostWindow;
    // A picture too large for the memory left is read as one not there: its
    // name is kept, and the scene is saved as it was.
    try {
        return material ? image::loadMaterial(token, owner) : image::loadSkin(token, owner);
    } catch (const std::bad_alloc& failure) {
        geometry::logAllocationFailure(failure, "a picture is not loaded");
        return 0;
    }
}

// ---------------------------------------------------------------- writing

long g_faultAfterBytes = -1;
long g_bytesWritten = 0;

bool put(std::FILE* file, const char* text) {
    size_t length = std::strlen(text);
    bool fault = false;
    if (g_faultAfterBytes >= 0 && g_bytesWritten + static_cast<long>(length) > g_faultAfterBytes) {
        length = static_cast<size_t>(g_faultAfterBytes - g_bytesWritten);
        fault = true;
    }
    const size_t written = std::fwrite(text, 1, length, file);
    g_bytesWritten += static_cast<long>(written);
    return !fault && written == length;
}

// Appends pieces to the fixed line buffer, refusing any that would not fit.
class LineBuilder {
public:
    LineBuilder(char (&line)[kLineCapacity], bool report) : line_(line), report_(report) { line_[0] = '\0'; }

    // Room for the final line feed is kept after every piece: a line cut
    // short is ended with one too, and must still be one the reader takes.
    bool append(const char* piece, size_t reserve = 1) {
        const size_t pieceLength = std::strlen(piece);
        if (length_ + pieceLength + reserve > kLongestLine) {
            if (report_) geometry::logError("line to long");
            return false;
        }
        std::memcpy(line_ + length_, piece, pieceLength + 1);
        length_ += pieceLength;
        return true;
    }

private:
    char (&line_)[kLineCapacity];
    bool report_;
    size_t length_ = 0;
};

// Every piece is formatted here before it is measured; the widest numeric piece
// (three floats near FLT_MAX with "%f") takes under 160 characters and a named
// piece under 275.
constexpr size_t kPieceCapacity = 512;

void formatTriple(char (&piece)[kPieceCapacity], const char* format, const float (&v)[3]) {
    std::snprintf(piece, sizeof piece, format, static_cast<double>(v[0]), static_cast<double>(v[1]),
                  static_cast<double>(v[2]));
}

void formatName(char (&piece)[kPieceCapacity], const char* key, const char* name) {
    if (name && name[0])
        std::snprintf(piece, sizeof piece, "%s[%s] ", key, name);
    else
        std::snprintf(piece, sizeof piece, "%s[ ] ", key);
}

}  // namespace

// ---------------------------------------------------------------- tokens

char* Tokenizer::next(const char* delimiters) {
    char* start = cursor_ + std::strspn(cursor_, delimiters);
    if (*start == '\0') {
        cursor_ = start;
        return nullptr;
    }
    char* end = start + std::strcspn(start, delimiters);
    if (*end != '\0') {
        *end = '\0';
        cursor_ = end + 1;
    } else {
        cursor_ = end;
    }
    return start;
}

char* Tokenizer::nextName() {
    char* token = next(kNameDelimiters);
    if (token)
        while (*token == ' ' || *token == '\t') ++token;
    return token;
}

bool readKindKeyword(char* line, KindKeyword& out) {
    Tokenizer tokens(line);
    const char* token = tokens.next(kKeyDelimiters);
    if (!token) return false;

    struct Finer {
        const char* word;
        BlockKind kind;
        int32_t standard;
        int32_t minimum;
    };
    static const Finer kFinerKinds[] = {
        {"CYLINDER", CYLINDER, 12, geometry::kCylinderMinimum},
        {"SPHERE", SPHERE, 24, geometry::kSphereMinimum},
        {"PLANE", PLANE, 20, geometry::kPlaneMinimum},
    };

    if (std::strcmp(token, "CUBE") == 0) {
        out = {CUBE, 1, tokens.rest()};
        return true;
    }
    if (std::strcmp(token, "TRIANGLE") == 0) {
        out = {TRIANGLE, 1, tokens.rest()};
        return true;
    }
    for (const Finer& kind : kFinerKinds) {
        const size_t wordLength = std::strlen(kind.word);
        if (std::strncmp(token, kind.word, wordLength) != 0) continue;
        const char* tail = token + wordLength;
        out = {kind.kind, *tail ? readFineness(tail, kind.minimum) : kind.standard, tokens.rest()};
        return true;
    }
    return false;
}

void readKeys(Block& block, char* rest) {
    Tokenizer tokens(rest);
    Key current = Key::Org;
    int valueIndex = 0;
    char* token = tokens.next(kKeyDelimiters);
    while (token) {
        Key key;
        if (keyWord(token, key)) {
            current = key;
            valueIndex = 0;
            token = isNameKey(key) ? tokens.nextName() : tokens.next(kKeyDelimiters);
            continue;
        }
        switch (current) {
            case Key::Org: readComponent(current, block.origin, valueIndex, token); break;
            case Key::Size: readComponent(current, block.size, valueIndex, token); break;
            case Key::Rot: readComponent(current, block.rotation, valueIndex, token); break;
            case Key::Rgb: readComponent(current, block.color, valueIndex, token); break;
            case Key::Dens:
                readScalar(block.density, token, "ERROR in DENS nr");
                if (block.density == 0.0f) block.density = 1.0f;
                break;
            case Key::SkinScale:
                readScalar(block.skinScale, token, "ERROR in SKIN scale");
                if (block.skinScale == 0.0f) block.skinScale = 0.5f;
                break;
            case Key::Trans: readScalar(block.translucency, token, "ERROR in TRANS"); break;
            case Key::Texture:
            case Key::Skin:
                if (isNameValue(token)) {
                    const bool material = current == Key::Texture;
                    const uint32_t id = readImageName(token, material);
                    (material ? block.textureId : block.skinId) = id;
                    // A picture on a drive that is not there today comes back
                    // with the drive: its name is kept and written back.
                    char* missing = material ? block.missingTexture : block.missingSkin;
                    missing[0] = '\0';
                    if (id == 0 && fitsName(token)) std::memcpy(missing, token, std::strlen(token) + 1);
                }
                token = tokens.nextName();
                continue;
            case Key::Shortcut:
                if (isNameValue(token)) readShortcut(block, token);
                current = Key::None;
                break;
            case Key::None: break;
        }
        if (valueIndex < 3) ++valueIndex;
        token = tokens.next(kKeyDelimiters);
    }
}

const char* const kFileHeader =
    "//kind:  origin[x,y,z]:         size[x,y,z]:            rotation[x,y,z]:       "
    "color[R,G,B]           texture file: density:            skinfile: scale: \n\n";

const char* defaultLine(int32_t kind) {
    switch (kind) {
        case CUBE: return "CUBE ORG[0.0,0.0,0.0] SIZE[1.0,1.0,1.0] ROT[0.0,0.0,0.0] RGB[1.0,1.0,1.0] TEXTURE[ ] DENS[1.00]";
        case TRIANGLE: return "TRIANGLE ORG[0.0,0.0,0.0] SIZE[1.0,1.0,1.0] ROT[0.0,0.0,0.0] RGB[1.0,1.0,1.0] TEXTURE[ ] DENS[1.00]";
        case CYLINDER: return "CYLINDER ORG[0.0,0.0,0.0] SIZE[1.0,1.0,1.0] ROT[0.0,0.0,0.0] RGB[1.0,1.0,1.0] TEXTURE[ ] DENS[1.00]";
        case SPHERE: return "SPHERE ORG[0.0,0.0,0.0] SIZE[1.0,1.0,1.0] ROT[0.0,0.0,0.0] RGB[1.0,1.0,1.0] TEXTURE[ ] DENS[1.00]";
        case PLANE: return "PLANE  ORG[0.0,0.0,0.0] SIZE[1.0,1.0,1.0] ROT[0.0,0.0,0.0] RGB[1.0,1.0,1.0] TEXTURE[ ] DENS[1.00]";
        default: return "";
    }
}

bool writeLine(const Block& block, char (&line)[kLineCapacity], bool report) {
    LineBuilder builder(line, report);
    char piece[kPieceCapacity];

    switch (block.kind) {
        case CUBE: std::snprintf(piece, sizeof piece, "CUBE     "); break;
        case TRIANGLE: std::snprintf(piece, sizeof piece, "TRIANGLE "); break;
        case CYLINDER: std::snprintf(piece, sizeof piece, "CYLINDER%d ", block.fineness); break;
        case SPHERE: std::snprintf(piece, sizeof piece, "SPHERE%d ", block.fineness); break;
        case PLANE: std::snprintf(piece, sizeof piece, "PLANE%d ", block.fineness); break;
        default: piece[0] = '\0'; break;
    }
    if (!builder.append(piece)) return false;
    formatTriple(piece, "ORG[%+2.2f,%+2.2f,%+2.2f] ", block.origin);
    if (!builder.append(piece)) return false;
    formatTriple(piece, "SIZE[%+2.2f,%+2.2f,%+2.2f] ", block.size);
    if (!builder.append(piece)) return false;
    formatTriple(piece, "ROT[%f,%f,%f] ", block.rotation);
    if (!builder.append(piece)) return false;
    formatTriple(piece, "RGB[%+2.2f,%+2.2f,%+2.2f] ", block.color);
    if (!builder.append(piece)) return false;

    const image::CacheEntry* material = image::textureCache().findById(block.textureId);
    formatName(piece, "TEXTURE", material ? material->name : block.missingTexture);
    if (!builder.append(piece)) return false;
    std::snprintf(piece, sizeof piece, "DENS[%2.4f] ", static_cast<double>(block.density));
    if (!builder.append(piece)) return false;

    const image::CacheEntry* skin = image::skinCache().findById(block.skinId);
    formatName(piece, "SKIN", skin ? skin->name : block.missingSkin);
    if (!builder.append(piece)) return false;
    std::snprintf(piece, sizeof piece, "SKINSCALE[%2.4f] ", static_cast<double>(block.skinScale));
    if (!builder.append(piece)) return false;

    formatName(piece, "SHORTCUT", block.shortcut);
    if (!builder.append(piece)) return false;
    std::snprintf(piece, sizeof piece, "TRANS[%1.0f] ", static_cast<double>(block.translucency));
    if (!builder.append(piece)) return false;
    return builder.append("\n", 0);
}

void setWriteFaultAfterBytes(long bytes) { g_faultAfterBytes = bytes; }

namespace {

// One piece of a physical line: at most 1023 bytes, the line feed included.
struct LinePiece {
    char text[kLineCapacity];
    size_t length;    // bytes read, which may exceed strlen when the file holds NULs
    bool unfinished;  // the physical line goes on in the next piece
};

bool readPiece(std::FILE* file, LinePiece& piece) {
    size_t length = 0;
    int c = 0;
    while (length < kLineCapacity - 1 && (c = std::fgetc(file)) != EOF) {
        piece.text[length++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    piece.text[length] = '\0';
    if (length == 0) return false;
    const bool endsLine = piece.text[length - 1] == '\n';
    piece.unfinished = !endsLine && length == kLineCapacity - 1;
    // Carriage returns of lines written elsewhere are part of the line end.
    if (endsLine && length >= 2 && piece.text[length - 2] == '\r') {
        piece.text[length - 2] = '\n';
        piece.text[--length] = '\0';
    }
    piece.length = length;
    return true;
}

}  // namespace

bool readSceneFile(const char* fileName, Scene& scene, int32_t keep, bool* held) {
    std::FILE* file = openForReading(fileName, kReadMode, held);
    if (!file) return false;
    LinePiece piece;
    if (!readPiece(file, piece) || std::strncmp(piece.text, kFileId, 3) != 0) {
        std::fclose(file);
        return false;
    }
    scene.clear();
    // The tail of an over-long line is never read as a line of its own: it
    // could start with a keyword and add a block the file never meant.
    bool continuation = piece.unfinished;
    while (readPiece(file, piece)) {
        const bool skip = continuation;
        continuation = piece.unfinished;
        if (skip) continue;
        if (piece.length > kLongestLine) {
            geometry::logError(piece.text);
            continue;
        }
        scene.addLine(piece.text);
        if (scene.count() > keep) scene.removeFrom(keep);
    }
    std::fclose(file);
    return true;
}

WriteFault writeNewSceneFile(const char* newName, const Scene& scene, const Replaced* replaces) {
    std::FILE* file = std::fopen(newName, "w");
    if (!file) return WriteFault::Create;
    g_bytesWritten = 0;
    bool ok = put(file, "880\n") && put(file, "//^always first, its the file id !!\n") &&
              (!replaces || put(file, replacesLine(*replaces).c_str())) && put(file, "\n") &&
              put(file, kFileHeader);
    char line[kLineCapacity];
    for (int32_t i = 0; ok && i < scene.count(); ++i) {
        // A line cut short still holds the kind and placement; it is written
        // and ended so that the next line stays a line of its own.
        writeLine(*scene.block(i), line);
        ok = put(file, line);
        const size_t length = std::strlen(line);
        if (ok && (length == 0 || line[length - 1] != '\n')) ok = put(file, "\n");
    }
    ok = ok && flushToDisk(file);
    ok = (std::fclose(file) == 0) && ok;
    if (ok) return WriteFault::None;
    // Only a complete file may ever stand in for a scene.
    std::remove(newName);
    return WriteFault::Write;
}

bool writeSceneFile(const char* fileName, const Scene& scene) {
    std::string newName;
    bool ok = temporaryName(fileName, newName) && writeNewSceneFile(newName.c_str(), scene) == WriteFault::None;
    if (ok && replaceFile(newName.c_str(), fileName) != Move::Done) {
        std::remove(newName.c_str());
        ok = false;
    }
    if (!ok) {
        char message[kLineCapacity];
        std::snprintf(message, sizeof message, "cannot save scene file %s", fileName);
        geometry::logError(message);
    }
    return ok;
}

}  // namespace plexa::scene
