#include "tools/tool.h"

namespace tool {

std::vector<Command> applierCommands() { return {}; }

}  // namespace tool
