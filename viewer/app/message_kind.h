// The three kinds of message box the viewer shows, all captioned
// "TQScaleDBViewer".
#pragma once

namespace tq::viewer {

enum class MessageKind {
    Error,     // OK button, stop icon
    Question,  // Yes and No buttons, exclamation icon; only Yes acts
    Notice,    // OK button, no icon
};

}  // namespace tq::viewer
