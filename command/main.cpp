// corvanel: applies the Corvanel filter to image files, hosting the plug-in as an image
// editor does.
#include "command/Console.h"
#include "command/Options.h"
#include "command/Plan.h"
#include "command/Report.h"
#include "command/Run.h"
#include "command/Settings.h"

#include <new>

namespace {

// Before main: an interrupt that came before the handler would end the program with no
// word (and under Wine with status 0).
[[maybe_unused]] const bool g_interruptsHandled = (InstallInterruptHandler(), true);

int Main(int argc, char** argv) {
  Arguments args;
  if (const int status = ParseArguments(argc, argv, &args); status >= 0) return status;
  Plan plan;
  Refusal refusal;
  if (!PlanRun(args, &plan, &refusal)) return Fail(refusal.status, refusal.message);
  if (plan.settingsOnly) {
    std::string error;
    return WriteSettingsFile(plan.settingsOut, plan.params, &error) ? 0 : Fail(kExitFailure, error);
  }
  return RunPlan(args, plan);
}

}  // namespace

int main(int argc, char** argv) {
  LimitAllocatorReserve();
  // Each file's run says what it could not have; this catches the rest (the arguments, the
  // plug-in), so that no allocation failure ends the program without a word.
  try {
    return Main(argc, argv);
  } catch (const std::bad_alloc&) {
    return Fail(kExitFailure, "not enough memory to go on; nothing more written");
  }
}
