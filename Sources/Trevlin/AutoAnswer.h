// The user's answer to one of Automatic mode's questions, given in the menu
// bar panel or through a notification's buttons.
#pragma once

namespace trevlin {

enum class AutoAnswer { limitOnce, always, ignore, never };

}  // namespace trevlin
