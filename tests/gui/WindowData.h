#pragma once

#include "adapters/qt/QtTimer.h"
#include "app/DefaultFolder.h"
#include "session/SessionData.h"

#include <memory>
#include <string>

namespace torvaline::test {

// What a window shows, as a session would own it, for a window made alone in a test.
inline std::unique_ptr<SessionData> windowData(const std::string& defaultFolder) {
    return std::make_unique<SessionData>(defaultFolder, DefaultFolder::separator(),
                                         std::make_unique<QtTimer>());
}

} // namespace torvaline::test
