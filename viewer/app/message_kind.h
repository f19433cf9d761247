// The kinds of message box the viewer shows, all captioned
// "TQScaleDBViewer".
#pragma once

namespace tq::viewer {

enum class MessageKind {
    Error,     // OK button, stop icon
    Question,  // Yes and No buttons, exclamation icon; only Yes acts
    Warning,   // the same with No the default button, before what cannot be undone
    Notice,    // OK button, no icon
};

}  // namespace tq::viewer
