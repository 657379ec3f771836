#include "settings/ui/SetDialogHook.h"

namespace kavrel {
namespace {

// Owned by the user-interface thread, like the dialog it drives.
SetDialogHook& Hook() {
    static SetDialogHook hook;
    return hook;
}

}  // namespace

SetDialogHook SetSetDialogHook(SetDialogHook hook) {
    SetDialogHook previous = std::move(Hook());
    Hook() = std::move(hook);
    return previous;
}

const SetDialogHook& InstalledSetDialogHook() {
    return Hook();
}

}  // namespace kavrel
