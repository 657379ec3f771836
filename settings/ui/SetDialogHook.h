#pragma once
// A seam for driving the settings dialog's modal run without a person.
//
// When a hook is installed, CSetDialog::exec() calls it once the dialog is
// initialised and its modal run has started (from the run's own event loop),
// with the dialog itself: the hook edits the boxes and clicks the buttons as
// a user would. The hook is expected to end the run (OK or the close button);
// when the dialog is still open after the hook returns, the run is ended
// through the close button's path, so a test never blocks.
// User-interface thread only.

#include <functional>

namespace kavrel {

class CSetDialog;

using SetDialogHook = std::function<void(CSetDialog& dialog)>;

// Installs `hook` and returns the previous one; an empty hook restores the
// plain modal run.
SetDialogHook SetSetDialogHook(SetDialogHook hook);

// The hook now installed (empty when none).
const SetDialogHook& InstalledSetDialogHook();

// Installs a hook for its lifetime and puts the previous one back.
class ScopedSetDialogHook {
  public:
    explicit ScopedSetDialogHook(SetDialogHook hook)
        : m_previous(SetSetDialogHook(std::move(hook))) {}
    ~ScopedSetDialogHook() { SetSetDialogHook(std::move(m_previous)); }
    ScopedSetDialogHook(const ScopedSetDialogHook&) = delete;
    ScopedSetDialogHook& operator=(const ScopedSetDialogHook&) = delete;

  private:
    SetDialogHook m_previous;
};

}  // namespace kavrel
