#include "tools/tool.h"

namespace tool {

std::vector<Command> hintsCommands() { return {}; }

}  // namespace tool
