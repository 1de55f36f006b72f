#include "host/shortcut.h"

#include <windows.h>
#include <commdlg.h>
#include <shellapi.h>

#include <cstring>

#include "host/instance_table.h"
#include "host/library_state.h"
#include "host/paths.h"
#include "host/wide_names.h"

namespace plexa::host {

namespace {
// Shared by every instance, so the next chooser opens with the last name.
char g_shortcutFile[MAX_PATH] = "*.*";
char g_shortcutTitle[512] = " ";
}  // namespace

void chooseShortcut(scene::Block& block, void* owner) {
    OPENFILENAMEA dialog = {};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = static_cast<HWND>(owner);
    dialog.lpstrFilter = "All Files (*.*)\0*.*\0";
    dialog.nFilterIndex = 0;
    dialog.lpstrFile = g_shortcutFile;
    dialog.nMaxFile = sizeof g_shortcutFile;
    dialog.lpstrFileTitle = g_shortcutTitle;
    dialog.nMaxFileTitle = sizeof g_shortcutTitle;
    dialog.lpstrTitle = "Set Block as ShortCut to..";
    dialog.Flags = OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_CREATEPROMPT;
    dialog.lpstrDefExt = "*";
    if (!GetOpenFileNameA(&dialog)) return;

    // The host may have unbound the instance while the dialog was open.
    PluginInstance* current = instances().current();
    if (!current || current->scene->selected != &block) return;

    block.shortcut[0] = '\0';
    const size_t length = std::strlen(g_shortcutFile);
    if (length >= sizeof block.shortcut) return;
    // A stored form too long for a name falls back to the full name, which
    // opens from anywhere.
    if (g_shortcutFile[0] && g_shortcutFile[1] == ':' &&
        makeRelative(g_shortcutFile, library().pluginDirectory, block.shortcut, sizeof block.shortcut))
        return;
    std::memcpy(block.shortcut, g_shortcutFile, length + 1);
}

void clearShortcut(scene::Block& block) { block.shortcut[0] = '\0'; }

int32_t openShortcut(PluginInstance& instance) {
    const scene::Block* block = instance.scene->selected;
    if (!block || block->shortcut[0] == '\0') return 0;
    // Stored shortcuts are relative to the plug-in directory; the shell resolves
    // them against the current one.
    enterDirectory(library().pluginFolder);
    const HINSTANCE result =
        ShellExecuteA(nullptr, nullptr, block->shortcut, nullptr, nullptr, SW_SHOWNORMAL);
    if (static_cast<int32_t>(reinterpret_cast<intptr_t>(result)) <= 32)
        MessageBoxA(static_cast<HWND>(library().hostWindow), block->shortcut, "! Cannot Open",
                    MB_ICONINFORMATION);
    enterDirectory(library().hostFolder);
    return 1;
}

}  // namespace plexa::host
