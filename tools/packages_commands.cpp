#include "tools/tool.h"

namespace tool {

std::vector<Command> packageCommands() { return {}; }

}  // namespace tool
