// Which scene file an instance reads and which it may replace (core side).
//
// The one rule every save follows: a scene file is replaced only if it holds
// the bytes this instance last read or wrote, or it does not exist. Anything
// else in the way is the user's, kept aside under a name nothing else uses.
#include "host/scene_keeping.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "geometry/numeric.h"
#include "host/instance_table.h"
#include "scene/file_commit.h"
#include "scene/scene_file.h"
#include "scene/side_file.h"

namespace plexa::host {

namespace {

constexpr size_t kSideNameCapacity = scene::kNameCapacity + 16;
// Kept-aside names run from NAME.kept through NAME.kept999.
constexpr int kMostKeptAside = 999;

bool exists(const char* name) { return scene::markOf(name).exists; }

// A file that holds bytes, but no identification line: what the reader
// refused, and what a save would destroy.
bool holdsOtherThanAScene(const char* name) {
    std::FILE* file = std::fopen(name, "rb");
    if (!file) return false;
    char start[3] = {};
    const size_t read = std::fread(start, 1, sizeof start, file);
    std::fclose(file);
    return read > 0 && !(read == sizeof start && std::memcmp(start, scene::kFileId, sizeof start) == 0);
}

void formName(char (&out)[object_data::kNameCapacity], const char* prefix, int32_t number) {
    std::snprintf(out, sizeof out, "%s%s%02d.%s", prefix, kBaseName, number, kExtension);
}

void pendingName(const char* name, char (&out)[kSideNameCapacity]) {
    std::snprintf(out, sizeof out, "%s.pending", name);
}

// Whether a bound instance other than `instance` saves to the plain or the
// parent-directory name with `number`.
bool nameTaken(const InstanceTable& table, const PluginInstance& instance, int32_t number) {
    char plain[object_data::kNameCapacity], parent[object_data::kNameCapacity];
    formName(plain, "", number);
    formName(parent, "..\\", number);
    for (int32_t i = 0; i < table.count(); ++i) {
        const PluginInstance* other = table.at(i);
        if (other == &instance || !other->fileName[0]) continue;
        if (std::strcmp(other->fileName, plain) == 0 || std::strcmp(other->fileName, parent) == 0) return true;
    }
    return false;
}

// A number no bound instance saves to and no file has yet: such a file may
// belong to an object that is not bound at the moment.
int32_t unusedNumber(const InstanceTable& table, const PluginInstance& instance) {
    int32_t number = instance.number;
    for (; number < INT32_MAX; ++number) {
        if (nameTaken(table, instance, number)) continue;
        char plain[object_data::kNameCapacity], parent[object_data::kNameCapacity];
        char pending[kSideNameCapacity];
        formName(plain, "", number);
        formName(parent, "..\\", number);
        pendingName(plain, pending);
        if (!exists(plain) && !exists(parent) && !exists(pending)) break;
    }
    return number;
}

bool sharesDataBlock(const InstanceTable& table, const PluginInstance& instance) {
    for (int32_t i = 0; i < table.count(); ++i) {
        const PluginInstance* other = table.at(i);
        if (other != &instance && other->hostData == instance.hostData) return true;
    }
    return false;
}

void own(PluginInstance& instance, const char* name, std::string bytes) {
    instance.ownedPath.clear();
    instance.ownedBytes.clear();
    if (scene::fullPathName(name, instance.ownedPath)) instance.ownedBytes = std::move(bytes);
}

bool ownsPath(const PluginInstance& instance, const char* name) {
    std::string path;
    return !instance.ownedPath.empty() && scene::fullPathName(name, path) &&
           scene::samePathName(path, instance.ownedPath);
}

// Tries a move again while another program holds the file, as long as the
// wait budget allows.
template <typename Step>
scene::Move whileHeld(int tries, Step step) {
    scene::Move result = step();
    for (int attempt = 1; result == scene::Move::Held && attempt < tries && scene::pauseWithinBudget(); ++attempt)
        result = step();
    return result;
}

// Moves `from` to the first of `base`.`kind`, `base`.`kind`2, ... that no
// file has. The name taken is left in `taken`.
scene::Move moveAside(const char* from, const char* base, const char* kind, int tries,
                      char (&taken)[kSideNameCapacity]) {
    for (int n = 1; n <= kMostKeptAside; ++n) {
        if (n == 1)
            std::snprintf(taken, sizeof taken, "%s.%s", base, kind);
        else
            std::snprintf(taken, sizeof taken, "%s.%s%d", base, kind, n);
        if (exists(taken)) continue;
        const scene::Move result = whileHeld(tries, [&] { return scene::moveToUnusedName(from, taken); });
        // Taken by someone else between the look and the move: the next one.
        if (result == scene::Move::Refused && exists(taken)) continue;
        return result;
    }
    return scene::Move::Refused;
}

// Whether the side file `pending` may stand for `plain`: it says what it was
// made to replace, and `plain` still holds exactly that or is gone. A side
// file of another version is kept aside, so that the name is free for this
// object's own; one of an older version of the plug-in says nothing and is
// kept aside too.
bool pendingMayReplace(const char* pending, const char* plain) {
    std::string bytes;
    if (scene::readContent(pending, bytes) != scene::Content::Read) return false;
    scene::Replaced recorded;
    const scene::Standing standing =
        scene::findReplaced(bytes, recorded) ? scene::standingOf(recorded, plain) : scene::Standing::Foreign;
    if (standing == scene::Standing::Stands) return true;
    if (standing == scene::Standing::Foreign) {
        char kept[kSideNameCapacity];
        if (moveAside(pending, plain, "kept", 1, kept) == scene::Move::Done) {
            char message[3 * kSideNameCapacity + 64];
            std::snprintf(message, sizeof message, "scene file %s was made for another version of %s, kept as %s",
                          pending, plain, kept);
            geometry::logError(message);
        }
    }
    return false;
}

bool report(PluginInstance& instance, const char* format, const char* name, const char* other = "") {
    char message[3 * kSideNameCapacity + 160];
    std::snprintf(message, sizeof message, format, name, other);
    logSaveProblem(instance, message);
    return false;
}

}  // namespace

int32_t ownFileNumber(const char* text, size_t capacity) {
    if (!text || !std::memchr(text, '\0', capacity)) return -1;
    const char* p = text;
    if (std::strncmp(p, "..\\", 3) == 0) p += 3;
    const size_t baseLength = std::strlen(kBaseName);
    if (std::strncmp(p, kBaseName, baseLength) != 0) return -1;
    p += baseLength;
    const char* digits = p;
    int64_t number = 0;
    while (*p >= '0' && *p <= '9') {
        number = number * 10 + (*p++ - '0');
        if (number > INT32_MAX) return -1;
    }
    if (p - digits < 2 || *p++ != '.' || std::strcmp(p, kExtension) != 0) return -1;
    // Only the name the plug-in itself forms for that number opens that
    // file: defplx007.880 would be read as one file and saved as another.
    char formed[16];
    std::snprintf(formed, sizeof formed, "%02d", static_cast<int32_t>(number));
    const size_t digitCount = static_cast<size_t>(p - 1 - digits);
    if (std::strlen(formed) != digitCount || std::strncmp(formed, digits, digitCount) != 0) return -1;
    return static_cast<int32_t>(number);
}

void formSceneFileName(PluginInstance& instance, const char* tag, const char* baseName,
                       const char* extension) {
    char* name = instance.sceneFileName;
    const int32_t number = instance.fileNumber >= 0 ? instance.fileNumber : instance.number;
    std::snprintf(name, object_data::kNameCapacity, "%s%02d.%s", baseName, number, extension);
    std::memcpy(instance.fileName, name, object_data::kNameCapacity);
    char* hostTag = reinterpret_cast<char*>(instance.hostData + object_data::kTagOffset);
    if (std::strncmp(hostTag, tag, 3) != 0) {
        std::memcpy(hostTag, tag, 3);
        hostTag[3] = '\0';
        return;
    }
    // A file that is there but held by another program is still the one
    // meant: the parent's would be another object's scene.
    if (exists(name)) return;
    char parent[object_data::kNameCapacity];
    const int formed = std::snprintf(parent, sizeof parent, "..\\%s%02d.%s", baseName, number, extension);
    if (formed > 0 && static_cast<size_t>(formed) < sizeof parent && exists(parent))
        std::memcpy(name, parent, static_cast<size_t>(formed) + 1);
}

void startInstance(PluginInstance& instance, const InstanceTable* table) {
    // One object bound twice with one data block: the later binding must not
    // rename the file that block names for the first.
    if (table && sharesDataBlock(*table, instance)) instance.attachCopyOfData();
    // Positions shift when an object is unbound, so a tagged object finds its
    // scene by the name its data block keeps, not by where it was bound.
    const bool tagged =
        std::strncmp(reinterpret_cast<const char*>(instance.hostData + object_data::kTagOffset), kTag, 3) == 0;
    const int32_t kept = tagged ? ownFileNumber(instance.sceneFileName, object_data::kNameCapacity) : -1;
    int32_t readNumber = kept;
    if (kept >= 0) {
        // A copy of a bound object reads the scene it was copied with and
        // saves to a file of its own.
        instance.fileNumber = table && nameTaken(*table, instance, kept) ? unusedNumber(*table, instance) : kept;
    } else {
        instance.fileNumber = table && nameTaken(*table, instance, instance.number) ? unusedNumber(*table, instance)
                                                                                     : instance.number;
        readNumber = instance.fileNumber;
    }

    // The file to read: a complete scene that could not replace the file
    // before is the newest while the file is still what it was made to
    // replace; then the plain name; then, for a tagged object, the parent
    // directory's.
    char plain[object_data::kNameCapacity], parent[object_data::kNameCapacity];
    char pending[kSideNameCapacity];
    formName(plain, "", readNumber);
    formName(parent, "..\\", readNumber);
    pendingName(plain, pending);
    const bool saveTarget = readNumber == instance.fileNumber;
    const bool pendingStands = exists(pending) && pendingMayReplace(pending, plain);

    scene::Scene& scene = *instance.scene;
    instance.ownedPath.clear();
    instance.ownedBytes.clear();
    instance.sideName.clear();
    instance.sideBytes.clear();
    {
        // Binding costs time linear in the file's lines: lists are compiled
        // once, for the block that survives, when the reduction is done.
        scene::DeferredRefresh deferred(scene);
        // Only the first block can survive the reduction; the others are
        // removed as they are read, so no file's length can exhaust memory.
        bool loaded = false;
        std::string before, after;
        if (pendingStands && scene::readContent(pending, before) == scene::Content::Read &&
            scene.load(pending, 1)) {
            loaded = true;
            // It is this object's side file now, and the file it stands for
            // is this object's to replace.
            if (saveTarget && scene::readContent(pending, after) == scene::Content::Read && after == before) {
                instance.sideName = pending;
                instance.sideBytes = after;
            }
            if (saveTarget && scene::readContent(plain, after) == scene::Content::Read) own(instance, plain, after);
        } else if (exists(plain) || !tagged || !exists(parent)) {
            bool held = false;
            const scene::Content first = scene::readContent(plain, before);
            loaded = scene.load(plain, 1, &held);
            // Owned only if what was read is what is there: a file replaced
            // while it was being read is another version.
            if (loaded && saveTarget && first == scene::Content::Read &&
                scene::readContent(plain, after) == scene::Content::Read && after == before)
                own(instance, plain, after);
            if (held || first == scene::Content::Held) {
                char message[2 * object_data::kNameCapacity + 120];
                std::snprintf(message, sizeof message,
                              "scene file %s held by another program, not read; kept aside before it is replaced",
                              plain);
                geometry::logError(message);
            }
        } else {
            loaded = scene.load(parent, 1);
        }
        if (loaded && scene.count() > 0) {
            // Removing the block at index 1 until one is left, in one pass.
            scene.removeFrom(1);
            scene.selected = scene.block(0);
            if (scene.selected->kind != scene::PLANE && scene.selected->kind != scene::SPHERE)
                scene.removeSelected();
        }
        if (scene.count() == 0) {
            scene.addDefault(scene::SPHERE);
            scene.selected = scene.block(0);
        }
    }
    // The tag, and the plain name of the number the instance saves to.
    instance.hostData[object_data::kTagOffset] = 0;
    formSceneFileName(instance, kTag, kBaseName, kExtension);
}

void logSaveProblem(PluginInstance& instance, const std::string& message) {
    if (message == instance.lastLogged) return;
    instance.lastLogged = message;
    geometry::logError(message.c_str());
}

namespace {

// The bytes a file was written with, as the disk holds them (text mode adds
// carriage returns on some systems).
bool writeScene(const std::string& temporary, const scene::Scene& scene, const scene::Replaced* replaces,
                std::string& bytes, scene::WriteFault& fault) {
    fault = scene::writeNewSceneFile(temporary.c_str(), scene, replaces);
    if (fault != scene::WriteFault::None) return false;
    if (scene::readContent(temporary.c_str(), bytes) == scene::Content::Read) return true;
    std::remove(temporary.c_str());
    fault = scene::WriteFault::Write;
    return false;
}

// Removes the instance's side file, if it still holds what the instance put
// there: a save reached the file, so the side file is older.
void dropSideFile(PluginInstance& instance) {
    if (instance.sideName.empty()) return;
    std::string there;
    if (scene::readContent(instance.sideName.c_str(), there) == scene::Content::Read && there == instance.sideBytes)
        std::remove(instance.sideName.c_str());
    instance.sideName.clear();
    instance.sideBytes.clear();
}

// Puts the scene into the instance's one side file: the one it has while
// that still holds what it wrote there, else NAME.pending when `pending` and
// that name is free, else the first free NAME.keptN. The file records what
// the scene was made to replace: the file as this object last saw it.
bool writeSideFile(PluginInstance& instance, const std::string& temporary, bool pending, std::string& taken) {
    const char* name = instance.fileName;
    const scene::Replaced replaces = scene::replacedBy(instance.ownedPath.empty() ? nullptr : &instance.ownedBytes);
    std::string bytes;
    scene::WriteFault fault;
    if (!writeScene(temporary, *instance.scene, &replaces, bytes, fault)) return false;
    std::string there;
    if (!instance.sideName.empty() &&
        scene::readContent(instance.sideName.c_str(), there) == scene::Content::Read && there == instance.sideBytes &&
        scene::replaceFile(temporary.c_str(), instance.sideName.c_str()) == scene::Move::Done) {
        taken = instance.sideName;
        instance.sideBytes = bytes;
        return true;
    }
    char side[kSideNameCapacity];
    scene::Move moved = scene::Move::Refused;
    if (pending) {
        pendingName(name, side);
        moved = exists(side) ? scene::Move::Refused : scene::moveToUnusedName(temporary.c_str(), side);
    }
    if (moved != scene::Move::Done) moved = moveAside(temporary.c_str(), name, "kept", 1, side);
    if (moved != scene::Move::Done) {
        std::remove(temporary.c_str());
        return false;
    }
    // The one it had is older and no one else's: it goes.
    if (!instance.sideName.empty() && there == instance.sideBytes) std::remove(instance.sideName.c_str());
    instance.sideName = taken = side;
    instance.sideBytes = bytes;
    return true;
}

}  // namespace

bool saveInstance(PluginInstance& instance, SaveMoment) {
    const char* name = instance.fileName;
    if (!name[0]) return false;
    // The user marked the file as not to be changed: nothing is written.
    if (scene::isReadOnly(name)) return report(instance, "cannot save scene file %s: it is read-only", name);
    std::string temporary;
    if (!scene::temporaryName(name, temporary)) return report(instance, "cannot save scene file %s", name);
    std::string written;
    scene::WriteFault fault;
    if (!writeScene(temporary, *instance.scene, nullptr, written, fault))
        return report(instance,
                      fault == scene::WriteFault::Create
                          ? "cannot save scene file %s: %s cannot be created"
                          : "cannot save scene file %s: writing %s failed (is the disk full?)",
                      name, temporary.c_str());
    // Telling whose the file is and replacing it are one step among the
    // plug-ins of all hosts on this folder.
    scene::SaveLock lock(name);
    std::string there;
    const scene::Content content = lock.held() ? scene::readContent(name, there) : scene::Content::Held;
    // An empty file holds nothing to lose.
    bool mine = content == scene::Content::Missing ||
                (content == scene::Content::Read &&
                 (there.empty() || (ownsPath(instance, name) && there == instance.ownedBytes)));
    if (!mine && content != scene::Content::Held) {
        // Not this object's scene: the user's, kept aside before it is replaced.
        const bool notAScene = holdsOtherThanAScene(name);
        char kept[kSideNameCapacity];
        if (moveAside(name, name, notAScene ? "bad" : "kept", scene::kTriesWhileHeld, kept) == scene::Move::Done) {
            char message[2 * kSideNameCapacity + 64];
            std::snprintf(message, sizeof message,
                          notAScene ? "scene file %s unreadable, kept as %s"
                                    : "scene file %s was not read by this object, kept as %s",
                          name, kept);
            geometry::logError(message);
            mine = true;
        }
    }

    scene::Move replaced = scene::Move::Refused;
    if (mine) {
        replaced = whileHeld(scene::kTriesWhileHeld, [&] { return scene::replaceFile(temporary.c_str(), name); });
        if (replaced == scene::Move::Done) {
            own(instance, name, written);
            dropSideFile(instance);
            instance.lastLogged.clear();
            return true;
        }
    }
    // The complete new scene waits in the object's one side file. A file
    // that cannot even be read may still be this object's: the side file
    // says what it replaces, and the next binding tells.
    const bool unreadable = content == scene::Content::Held;
    std::string side;
    if (!writeSideFile(instance, temporary, mine || (unreadable && ownsPath(instance, name)), side)) {
        std::remove(temporary.c_str());
        return report(instance, "cannot save scene file %s", name);
    }
    std::remove(temporary.c_str());
    if (!mine && !unreadable)
        return report(instance, "scene file %s not read by this object and held; its scene kept as %s", name,
                      side.c_str());
    return report(instance,
                  replaced == scene::Move::Held || unreadable
                      ? "cannot save scene file %s: in use or denied; new scene in %s"
                      : "cannot save scene file %s: refused; new scene in %s",
                  name, side.c_str());
}

void adoptDataBlock(PluginInstance& instance, uint8_t* data) {
    if (!data) return;
    instance.attachData(data);
    if (ownFileNumber(instance.sceneFileName, object_data::kNameCapacity) < 0) {
        // Saving to an empty or run-on name would lose the scene.
        std::memcpy(instance.hostData + object_data::kTagOffset, kTag, 4);
        std::memcpy(instance.sceneFileName, instance.fileName, object_data::kNameCapacity);
    } else {
        std::memcpy(instance.fileName, instance.sceneFileName, object_data::kNameCapacity);
    }
}

}  // namespace plexa::host
