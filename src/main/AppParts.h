#pragma once

#include "app/AppState.h"

#include <memory>

class PreferenceStore;
class TaskbarPresence;

// The real components the shared state drives, as the tray app and
// `mivra record` both use them. `store` is the preference store every part
// reads and writes through.
AppState::Parts makeAppParts(std::shared_ptr<PreferenceStore> store, std::shared_ptr<TaskbarPresence> taskbar);
