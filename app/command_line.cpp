#include "app/command_line.h"

namespace {

// Where a value option stores its value.
std::wstring* valueTarget(CommandLine& cmd, const std::wstring& name) {
  RunOptions& o = cmd.options;
  struct Entry {
    const wchar_t* name;
    std::wstring* target;
  };
  const Entry table[] = {
      {L"--uninstall-worker", &cmd.uninstallDir},
      {L"--base", &cmd.base},
      {L"--url", &o.url},
      {L"--plan", &o.plan},
      {L"--sha256", &o.sha256},
      {L"--src", &o.src},
      {L"--pid", &o.pid},
      {L"--version", &o.version},
      {L"--exe", &o.exe},
      {L"--kind", &o.kind},
      {L"--dest", &o.dest},
      {L"--clean", &o.clean},
      {L"--dir", &cmd.dir},
      {L"--log", &cmd.log},
  };
  for (const Entry& e : table) {
    if (name == e.name) return e.target;
  }
  return nullptr;
}

bool* flagTarget(CommandLine& cmd, const std::wstring& name) {
  if (name == L"--apply") return &cmd.apply;
  if (name == L"--uninstall") return &cmd.uninstall;
  if (name == L"--purge-data") return &cmd.purgeData;
  if (name == L"--from-helper") return &cmd.fromHelper;
  if (name == L"--silent") return &cmd.silent;
  if (name == L"--accept-agreement") return &cmd.acceptAgreement;
  if (name == L"--cuda") return &cmd.cuda;
  if (name == L"--no-shortcut") return &cmd.noShortcut;
  if (name == L"--no-launch") return &cmd.noLaunch;
  return nullptr;
}

}  // namespace

CommandLine parseCommandLine(const std::vector<std::wstring>& args) {
  CommandLine cmd;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::wstring& arg = args[i];
    if (bool* flag = flagTarget(cmd, arg)) {
      *flag = true;
      continue;
    }
    const bool isLaunch = arg == L"--launch";
    std::wstring* target = isLaunch ? nullptr : valueTarget(cmd, arg);
    if (!isLaunch && !target) continue;  // not an option: ignored

    // The value is the next argument whatever it looks like, even another option's name.
    std::wstring value;
    if (i + 1 < args.size()) value = args[++i];
    if (isLaunch) {
      cmd.options.launch = value != L"0";
    } else {
      *target = value;
      if (arg == L"--uninstall-worker") cmd.uninstallWorker = true;
    }
  }
  return cmd;
}

RunMode chooseRunMode(const CommandLine& cmd) {
  if (cmd.uninstallWorker) return RunMode::UninstallWorker;
  if (cmd.uninstall) return RunMode::Uninstall;
  if (cmd.apply) return RunMode::Apply;
  if (cmd.silent) return RunMode::SilentInstall;
  return RunMode::Wizard;
}
