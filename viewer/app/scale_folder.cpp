#include "scale_folder.h"

namespace tq::viewer {

std::string EnterScaleFolder(FolderView& view, const std::string& argument) {
    if (!argument.empty() && !view.Enter(argument)) view.Error("Папка «" + argument + "» не найдена");
    if (view.HoldsInternal(view.CurrentFolder())) return view.CurrentFolder();
    const std::string remembered = view.RememberedFolder();
    if (!remembered.empty() && view.HoldsInternal(remembered) && view.Enter(remembered)) return view.CurrentFolder();
    std::string chosen;
    while (view.AskFolder("Укажите папку весов, в которой находится папка Internal", &chosen)) {
        if (view.HoldsInternal(chosen) && view.Enter(chosen)) {
            view.RememberFolder(view.CurrentFolder());
            return view.CurrentFolder();
        }
        view.Error("В папке «" + chosen + "» нет папки Internal");
    }
    return view.CurrentFolder();
}

}  // namespace tq::viewer
