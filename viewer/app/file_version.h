// The version text of the program's title.
#pragma once
#include <cstdint>
#include <string>

namespace tq::viewer {

// The four 16-bit parts of a fixed file version, most significant first:
// "1.0.0.8" for ms 0x00010000, ls 0x00000008.
std::string FormatFileVersion(uint32_t versionMs, uint32_t versionLs);
// "TQScaleDBViewer v.%s." — an empty version text gives "TQScaleDBViewer v..".
std::string ViewerTitle(const std::string& versionText);

}  // namespace tq::viewer
