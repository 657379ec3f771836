#pragma once
// The settings dialog: where the user names the server to watch.
//
// It shows a server record (`current`) in editable boxes, offers the server
// history as a drop-down list, and has three buttons: OK (take the entries),
// add (put them into the history) and delete (remove the chosen history
// entry); a close button in its title bar leaves without taking them. The
// history is stored on both ways out; the recent-value lists of the address,
// port and user boxes are written while OK is handled. The dialog never
// touches "config.txt" and never connects: its owner (the main window's
// settings command) reads `current` back after an OK.
//
// The address may be an RTSP URL (config/StreamUrl.h): while it is one, the
// port and channel boxes are greyed, and the record taken has no port and
// channel 0. The address's recent list holds a URL without its password.
//
// Initialise() (run once; exec() runs it when nobody did) places the dialog
// over the program's screen, creates every control, fills the boxes from
// `current`, the lists from the recent-value store and the history drop-down
// from the history store. Each control's objectName is its id in decimal
// (settings/ui/SetDialogIds.h).
//
// Keys: Enter and Return act as the OK button (OnConfirm, with its checks);
// Escape and the window manager's close act as the close button
// (OnCloseButton: history stored, record unchanged).
//
// Messages go through the program's message-box seam (skin/MessageBox.h).
// User-interface thread only, like the stores it uses.

#include <QString>
#include <memory>
#include <string_view>
#include <vector>

#include "config/Localisation.h"
#include "config/ServerSettings.h"
#include "onvif/OnvifTypes.h"
#include "settings/HistoryStore.h"
#include "settings/ui/SetDialogLayout.h"
#include "skin/CSkinDialog.h"

class QComboBox;
class QHostAddress;
class QKeyEvent;
class QLineEdit;
class QPushButton;

namespace kavrel {

class CSkinButton;
class CSkinStatic;
namespace onvif {
class Discovery;
}

class CSetDialog : public CSkinDialog {
    Q_OBJECT

  public:
    // `labels`: the caption and the texts of the labels and buttons (copied).
    // The record starts empty with channel 0; set it before Initialise().
    explicit CSetDialog(const SettingsLabels& labels, QWidget* parent = nullptr);
    ~CSetDialog() override;

    // On entry the record the owner hands in; after an OK the confirmed one.
    const ServerSettings& current() const { return m_current; }
    void SetCurrent(const ServerSettings& record) { m_current = record; }

    // The history as loaded and then changed by add and delete; element i
    // belongs to item i of the history drop-down.
    const ServerHistory& history() const { return m_history; }

    // Placement, controls and their contents, history; runs once (later calls
    // do nothing).
    void Initialise();
    bool IsInitialised() const { return m_initialised; }

    // Initialise() when needed, then the modal run: QDialog::Accepted after
    // OnConfirm, QDialog::Rejected after OnCloseButton. A hook installed with
    // SetSetDialogHook (settings/ui/SetDialogHook.h) runs once the dialog shows.
    int exec() override;

    // The command handlers, run when their control is used; public so that
    // tools and tests can run them as the controls do.
    void OnHistorySelChange();  // 237 choice: fill the boxes from that entry
    void OnAddRecord();         // 245: append the boxes' server to the history
    void OnDeleteRecord();      // 246: remove the chosen history entry
    void OnConfirm();           // 244: check, store the recent values, end with OK
    void OnCloseButton();       // 201: store the history, end with Cancel
    // 247: one WS-Discovery probe; the cameras that answer within its window
    // are listed in a menu under the button, and picking one fills the
    // address (an onvif:// URL) with it. Nothing goes on the network before.
    void OnFindCameras();
    // The cameras the last probe found (tests pick from them as the menu does).
    const std::vector<onvif::DiscoveredCamera>& FoundCameras() const { return m_found; }
    void PickFoundCamera(int index);
    // Where the probe goes (tests: a simulator on the loopback).
    void SetDiscoveryTarget(const QHostAddress& address, quint16 port);

    // Rows an editable or drop-down list shows when opened, so that the field
    // (one row of `rowHeight`) and its open list together are about five rows
    // high, the opened height of the handheld's combo boxes: (4 x rowHeight) /
    // itemHeight, at least 1.
    static int OpenListRows(int rowHeight, int itemHeight);

    // The layout the controls were placed with (valid after Initialise()).
    const SetDialogLayout& layout() const { return m_layout; }

  public slots:
    // Escape and the window manager's close button: the close button's path.
    void reject() override;

  protected:
    // Enter and Return: the OK button's path, wherever the focus is.
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void PlaceOnScreen();
    void CreateTitleBar();
    void CreateControls();
    void FillControls();
    QComboBox* AddList(int id, int row, bool editable);
    QPushButton* AddPushButton(int id, const LayoutRect& rect, const std::u16string& text);
    void ShowSettingsMessage(std::u16string_view key);
    // Port and channel are greyed while the address holds an RTSP URL.
    void UpdateUrlControls();
    // The boxes' server, checked (a message says what is wrong when it is
    // not). A URL's record has no port and channel 0. `confirming` (OK)
    // stores the address in its recent list, even when the port is refused.
    bool TakeServer(ServerSettings& server, bool confirming);
    // Menu bar and input-panel button of the handheld's shell.
    void HideShellBars();

    // All members belong to the user-interface thread.
    SettingsLabels m_labels;
    ServerSettings m_current;
    ServerHistory m_history;
    SetDialogLayout m_layout;
    bool m_initialised = false;

    // Controls: children of this dialog, which owns and destroys them.
    CSkinStatic* m_title = nullptr;
    CSkinButton* m_close = nullptr;
    QComboBox* m_historyBox = nullptr;
    QComboBox* m_addressBox = nullptr;
    QComboBox* m_portBox = nullptr;
    QComboBox* m_userBox = nullptr;
    QLineEdit* m_passwordBox = nullptr;
    QComboBox* m_channelBox = nullptr;
    QPushButton* m_okButton = nullptr;
    QPushButton* m_addButton = nullptr;
    QPushButton* m_deleteButton = nullptr;
    QPushButton* m_findButton = nullptr;
    // The probe's object, made (and its answers connected) at the first use.
    onvif::Discovery& DiscoveryProbe();
    void ShowFoundCameras();  // the menu under the button, once a probe ends
    onvif::Discovery* m_discovery = nullptr;
    std::vector<onvif::DiscoveredCamera> m_found;
};

}  // namespace kavrel
