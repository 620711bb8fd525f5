// corvanel: applies the Corvanel filter to image files, hosting the plug-in as an image
// editor does.
#include "command/Console.h"
#include "command/Options.h"
#include "command/Plan.h"
#include "command/Report.h"
#include "command/Run.h"

int main(int argc, char** argv) {
  InstallInterruptHandler();
  Arguments args;
  if (const int status = ParseArguments(argc, argv, &args); status >= 0) return status;
  Plan plan;
  Refusal refusal;
  if (!PlanRun(args, &plan, &refusal)) return Fail(refusal.status, refusal.message);
  return RunPlan(args, plan);
}
