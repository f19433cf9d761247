// Where the viewer works: the scale's program folder, the one that holds
// Internal. Every database path is relative to the current folder, so the
// viewer makes that folder current before anything opens. Started from a
// shortcut, the current folder is the install folder, which holds no
// Internal: then the folder remembered from the engineer's last choice is
// taken, else the engineer is asked for one. Paths are UTF-8.
#pragma once
#include <string>

namespace tq::viewer {

// What choosing the folder needs of the system.
class FolderView {
public:
    virtual ~FolderView() = default;
    virtual std::string CurrentFolder() = 0;
    virtual bool HoldsInternal(const std::string& folder) = 0;
    // Makes the folder current; false when it is not there.
    virtual bool Enter(const std::string& folder) = 0;
    // The folder chosen last time, or "" when none was.
    virtual std::string RememberedFolder() = 0;
    virtual void RememberFolder(const std::string& folder) = 0;
    // Asks for a folder, with the prompt; false when cancelled.
    virtual bool AskFolder(const std::string& promptUtf8, std::string* folder) = 0;
    virtual void Error(const std::string& textUtf8) = 0;
};

// Makes the scale's folder current: the command-line argument when given
// (an empty text when not), unless it holds no Internal; else the current
// folder, the remembered one, or one the engineer chooses, remembered then.
// A cancelled choice leaves the current folder as it was, and the viewer
// starts there as it always did. Returns the folder in use.
std::string EnterScaleFolder(FolderView& view, const std::string& argument);

}  // namespace tq::viewer
