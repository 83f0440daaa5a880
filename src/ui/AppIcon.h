#pragma once

#include <QIcon>
#include <QImage>

#include <array>

namespace vx {

// The sizes in which desktops ask for an application icon.
inline constexpr std::array<int, 8> kAppIconSizes = {16, 22, 24, 32, 48, 64, 128, 256};

// The program's own icon at one size: three LED bars on a dark tile, lit from green at
// the bottom through yellow to red at the top, drawn on whole pixels so that the small
// sizes stay sharp. Needs no application object.
QImage AppIconImage(int size);

// The program's icon in every size of kAppIconSizes.
QIcon AppIcon();

}  // namespace vx
