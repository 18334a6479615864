#pragma once
// The gate every run with a command word passes: may this run read the
// library? Asks the user only when no answer has ever been recorded.
#include "library/main_loop.h"
#include "library/photo_library.h"

namespace tolvek {

// How long the gate waits for the user's answer to the consent prompt.
inline constexpr double kConsentTimeoutSeconds = 300;

// True when the library is readable (authorized or limited). Reads the
// recorded status without prompting; only when it is "not determined" does it
// request authorization and wait for the answer on the main loop, at most
// kConsentTimeoutSeconds. Any other status, a refusal or no answer: false.
bool ensureAccess(PhotoLibrary& library, MainLoop& mainLoop, const Clock& clock);

}  // namespace tolvek
