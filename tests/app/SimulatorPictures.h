#pragma once
// What the simulator's pictures look like once the viewer shows or saves
// them: its channel's corner colours, and the one snapshot a test took.

#include <QByteArray>
#include <QImage>
#include <QTemporaryDir>

#include "tools/sim/TestPattern.h"

namespace kavrel::test {

// The 16-bit picture loses up to 7 levels per component on top of the codec.
inline constexpr int kPictureTolerance = sim::kCornerTolerance + 8;

// The picture's sample of `corner` shows `colour`.
bool CornerShows(const QImage& picture, sim::Corner corner, sim::Rgb colour);
// All four corners show channel `channel`'s colours (false for no picture).
bool CornersOfChannel(const QImage& picture, int channel);
// The one snapshot in `folder`, whole; empty when there is not exactly one.
QByteArray OnlySnapshot(const QTemporaryDir& folder);

}  // namespace kavrel::test
