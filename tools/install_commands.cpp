#include "tools/tool.h"

namespace tool {

std::vector<Command> installCommands() { return {}; }

}  // namespace tool
