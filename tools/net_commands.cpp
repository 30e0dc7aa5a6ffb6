#include "tools/tool.h"

namespace tool {

std::vector<Command> netCommands() { return {}; }

}  // namespace tool
