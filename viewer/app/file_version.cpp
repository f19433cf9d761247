#include "file_version.h"

#include <cstdio>

namespace tq::viewer {

std::string FormatFileVersion(uint32_t versionMs, uint32_t versionLs) {
    char text[64];
    std::snprintf(text, sizeof text, "%1u.%1u.%1u.%1u", static_cast<unsigned>(versionMs >> 16),
                  static_cast<unsigned>(versionMs & 0xFFFF), static_cast<unsigned>(versionLs >> 16),
                  static_cast<unsigned>(versionLs & 0xFFFF));
    return text;
}

std::string ViewerTitle(const std::string& versionText) { return "TQScaleDBViewer v." + versionText + "."; }

}  // namespace tq::viewer
