// The command's planning step: argument lists turned into jobs, or refused with the status
// and message the user sees, before any work.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "command/Options.h"
#include "command/Plan.h"

namespace {

// Parses and plans as the command does; the status ParseArguments or the plan gives, 0 for
// a plan.
int PlanFor(std::vector<std::string> args, Plan* plan, std::string* message) {
  std::vector<char*> argv{const_cast<char*>("corvanel")};
  for (std::string& a : args) argv.push_back(a.data());
  Arguments parsed;
  const int status = ParseArguments(int(argv.size()), argv.data(), &parsed);
  if (status >= 0) return status;
  Refusal refusal;
  if (PlanRun(parsed, plan, &refusal)) return 0;
  *message = refusal.message;
  return refusal.status;
}

class PlanTest : public ::testing::Test {
 protected:
  // A folder of its own: ctest runs the cases of this program side by side.
  static std::filesystem::path Folder() {
    return "plan_test_" +
           std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  }
  static void SetUpTestSuite() {
    namespace fs = std::filesystem;
    folder_ = fs::absolute(Folder());
    fs::create_directories(folder_ / "out");
    fs::current_path(folder_);
    std::ofstream("in.png") << "not decoded while planning";
  }
  static void TearDownTestSuite() {
    std::filesystem::current_path(folder_.parent_path());
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  static inline std::filesystem::path folder_;
};

TEST_F(PlanTest, RefusesWithTheStatusAndMessageOfTheCommand) {
  const struct {
    std::vector<std::string> args;
    int status;
    const char* says;  // the message starts so
  } cases[] = {
      {{}, 2, "INPUT and OUTPUT are required (see corvanel --help)"},
      {{"in.png"}, 2, "OUTPUT is required, or --out-dir DIR for a batch"},
      {{"in.png", "o.png", "o2.png"}, 2, "several inputs need --out-dir DIR: 3 files were given"},
      {{"in.png", "in.png", "out"},
       2,
       "several inputs need --out-dir DIR: 3 files were given (to write into the folder out, "
       "give --out-dir out)"},
      {{"in.png", "out"}, 1, "cannot write out: "},
      {{"in.png", "o.png", "--threshold", "101"},
       2,
       "Threshold must be a whole number from 0 to 100 (got 101)"},
      {{"in.png", "o.png", "--streaks", "-1"}, 2, "Streaks must be a whole number from 0 to 40"},
      {{"in.png", "o.png", "--match", "1,2,300"}, 2, "Blue must be a whole number from 0 to 255"},
      {{"in.png", "o.png", "--match", "1,2"}, 2, "the colour to match must be three numbers"},
      {{"in.png", "o.png", "--mode", "blur"}, 2, "the mode must be glow or sparkle (got 'blur')"},
      {{"in.png", "o.xyz"}, 2, "cannot write o.xyz: unknown output format '.xyz' (this build"},
      {{"in.png", "outnoext"}, 2, "cannot write outnoext: the name has no extension; --format"},
      {{"in.png", "-"}, 2, "standard output as OUTPUT needs --format EXT"},
      {{"in.png", "o.png", "--format", "doc"}, 2, "--format doc: unknown output format '.doc'"},
      {{"in.png", "o.png", "--format", "jpeg"},
       2,
       "o.png names the .png format but --format says .jpg"},
      {{"in.png", "--out-dir", "no_such_dir"}, 2, "--out-dir no_such_dir: no such folder"},
      {{"in.png", "--out-dir", "in.png"}, 2, "--out-dir in.png: not a folder"},
      {{"in.png", "-", "--out-dir", "out"}, 2, "standard input cannot be part of a batch"},
      {{"-", "o.png", "--settings", "-"},
       2,
       "standard input cannot give both the image and the settings"},
      {{"in.png", "in.png"},
       1,
       "in.png is the input in.png; writing it would destroy the input (nothing written)"},
      {{"in.png", "o.png", "--save-settings", "o.png"},
       2,
       "o.png would be written twice (nothing written)"},
      {{"in.png", "-", "--format", "png", "--save-settings", "-"},
       2,
       "standard output cannot take both the image and the settings"},
      {{"in.png", "--out-dir", ".", "--format", "png"}, 1, "./in.png is the input in.png"},
      // Outputs that meet in a batch: every clash, with both inputs.
      {{"in.png", "out/../in.png", "in.png", "--out-dir", "out", "--format", "tga"},
       2,
       "out/in.tga would be written twice (from in.png and out/../in.png); out/in.tga would be "
       "written twice (from in.png and in.png) (nothing written)"},
#ifndef _WIN32
      {{"in.png", "o.png", "--dialog"}, 2, "--dialog needs the Windows build"},
      {{"in.png", "o.png", "--plugin", "x.8bf"}, 2, "--plugin needs the Windows build"},
#endif
  };
  for (const auto& c : cases) {
    Plan plan;
    std::string message;
    EXPECT_EQ(PlanFor(c.args, &plan, &message), c.status) << c.says;
    EXPECT_EQ(message.rfind(c.says, 0), 0u) << message;
  }
}

TEST_F(PlanTest, TurnsArgumentsIntoJobs) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> jobs;  // each job's output and format, or "refused"
  } cases[] = {
      {{"in.png", "o.png"}, {"o.png:png"}},
      {{"in.png", "O.JPEG"}, {"O.JPEG:jpg"}},
      {{"in.png", "o", "--format", ".TGA"}, {"o:tga"}},
      {{"in.png", "-", "--format", "bmp"}, {"-:bmp"}},
      // In a batch a file that cannot be done is refused alone; the rest go on.
      {{"in.png", "missing.png", "--out-dir", "out", "--format", "tga"},
       {"out/in.tga:tga", "refused"}},
      {{"in.png", "in.xyz", "--out-dir", "out/"}, {"out/in.png:png", "refused"}},
  };
  for (const auto& c : cases) {
    Plan plan;
    std::string message;
    ASSERT_EQ(PlanFor(c.args, &plan, &message), 0) << message;
    std::vector<std::string> jobs;
    for (const Job& job : plan.jobs)
      jobs.push_back(job.refused.empty() ? job.output.name + ":" + job.format : "refused");
    EXPECT_EQ(jobs, c.jobs) << c.args[1];
  }
}

TEST_F(PlanTest, SettingsComeFromDefaultsThenFileThenOptions) {
  std::ofstream("s.txt") << "mode = sparkle\nradius = 9\nmatch = 1,2,3\n";
  Plan plan;
  std::string message;
  ASSERT_EQ(PlanFor({"in.png", "o.png", "--settings", "s.txt", "--radius", "7", "--angle", "0"},
                    &plan, &message),
            0)
      << message;
  EffectParams expected = DefaultEffectParams();
  expected.mode = kModeSparkle;
  expected.red = 1;
  expected.green = 2;
  expected.blue = 3;
  expected.radius = 7;
  expected.angle = 0;
  for (const ParamRange& r : kParamRanges) EXPECT_EQ(plan.params.*r.field, expected.*r.field);
  EXPECT_EQ(plan.params.mode, kModeSparkle);
  EXPECT_EQ(plan.settingsOut.name, "");

  // --save-settings alone: the same settings, nothing to filter; never over the file read.
  Plan alone;
  ASSERT_EQ(PlanFor({"--settings", "s.txt", "--radius", "7", "--angle", "0", "--save-settings",
                     "saved.txt"},
                    &alone, &message),
            0)
      << message;
  EXPECT_TRUE(alone.settingsOnly);
  EXPECT_TRUE(alone.jobs.empty());
  EXPECT_EQ(alone.params.radius, 7);
  EXPECT_EQ(PlanFor({"--settings", "s.txt", "--save-settings", "s.txt"}, &alone, &message), 2);
}

}  // namespace
