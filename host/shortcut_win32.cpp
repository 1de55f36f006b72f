#include "host/shortcut.h"

#include <windows.h>
#include <shellapi.h>

#include "host/instance_table.h"
#include "host/library_state.h"

namespace plexa::host {

int32_t openShortcut(PluginInstance& instance) {
    const scene::Block* block = instance.scene->selected;
    if (!block || block->shortcut[0] == '\0') return 0;
    // Stored shortcuts are relative to the plug-in directory; the shell resolves
    // them against the current one.
    SetCurrentDirectoryA(library().pluginDirectory);
    const HINSTANCE result =
        ShellExecuteA(nullptr, nullptr, block->shortcut, nullptr, nullptr, SW_SHOWNORMAL);
    if (static_cast<int32_t>(reinterpret_cast<intptr_t>(result)) <= 32)
        MessageBoxA(static_cast<HWND>(library().hostWindow), block->shortcut, "! Cannot Open",
                    MB_ICONINFORMATION);
    SetCurrentDirectoryA(library().hostDirectory);
    return 1;
}

}  // namespace plexa::host
