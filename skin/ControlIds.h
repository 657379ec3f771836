#pragma once
// Control and command ids of the main window. Each control's objectName is its
// id in decimal, so tests and tools find a control by id.

namespace kavrel::control {

constexpr int kTitleExit = 201;  // leaves the program, as kExit
constexpr int kTitleLabel = 202;
constexpr int kPlay = 203;
constexpr int kCapture = 204;
constexpr int kFullScreen = 205;
constexpr int kSwitch = 206;  // next page of channel buttons
constexpr int kSet = 207;
constexpr int kExit = 208;
constexpr int kPtzLeft = 209;
constexpr int kPtzRight = 210;
constexpr int kPtzUp = 211;
constexpr int kPtzDown = 212;
constexpr int kPtzZoomIn = 213;
constexpr int kPtzZoomOut = 214;
constexpr int kPtzIrisAdd = 215;
constexpr int kPtzIrisSub = 216;
constexpr int kPtzFocusAdd = 217;
constexpr int kPtzFocusSub = 218;
constexpr int kFirstPtz = kPtzLeft;
constexpr int kLastPtz = kPtzFocusSub;
constexpr int kStatusLine = 235;
constexpr int kVideo = 236;
constexpr int kFirstChannel = 1219;  // channel 1; channel c (1-based) is 1218 + c
constexpr int kLastChannel = 1250;   // channel 32

constexpr int kChannelButtons = 32;
constexpr int kChannelsPerPage = 4;

// The six command buttons, left to right.
constexpr int kCommandIds[6] = {kPlay, kCapture, kFullScreen, kSwitch, kSet, kExit};

}  // namespace kavrel::control
