#pragma once
// The View menu's display entries (view_commands.cpp).
#include "app/ocumbra.hpp"

namespace ocu::app {

// View -> "Follow pointer" is checked (false when the layout has none).
bool follow_pointer_on(const OcumbraState& handles);

}  // namespace ocu::app
