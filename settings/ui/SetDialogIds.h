#pragma once
// Control ids of the settings dialog. Each control's objectName is its id in
// decimal, so tests and tools find a control by id. The ids of the title and
// the close button repeat the main window's (202, 201): they name controls of
// another window.

namespace kavrel::setdlg {

constexpr int kClose = 201;  // close button in the title bar
constexpr int kTitle = 202;

// Row labels, top to bottom.
constexpr int kHistoryLabel = 300;
constexpr int kAddressLabel = 301;
constexpr int kPortLabel = 302;
constexpr int kUserLabel = 303;
constexpr int kPasswordLabel = 304;
constexpr int kChannelLabel = 305;

// Input controls, top to bottom.
constexpr int kHistory = 237;   // drop-down list of history entries
constexpr int kAddress = 238;   // editable combo box, recent addresses
constexpr int kPort = 239;      // editable combo box, recent ports
constexpr int kUser = 240;      // editable combo box, recent user names
constexpr int kPassword = 241;  // masked line edit
constexpr int kChannel = 242;   // drop-down list "1" to "32"

constexpr int kOk = 244;
constexpr int kAdd = 245;
constexpr int kDelete = 246;
constexpr int kFindCameras = 247;  // WS-Discovery of ONVIF cameras, beside delete

constexpr int kRowCount = 6;
constexpr int kRowLabels[kRowCount] = {kHistoryLabel, kAddressLabel,  kPortLabel,
                                       kUserLabel,    kPasswordLabel, kChannelLabel};
constexpr int kRowInputs[kRowCount] = {kHistory, kAddress, kPort, kUser, kPassword, kChannel};

constexpr int kChannelItems = 32;

}  // namespace kavrel::setdlg
