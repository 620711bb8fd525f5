// The corvanel command as a user runs it: exit statuses, messages, files left behind.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

struct Outcome {
  int status;  // exit status, or 128 + signal
  std::string err;
};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}
bool Exists(const std::string& path) {
  struct stat s;
  return stat(path.c_str(), &s) == 0;
}

Outcome Invoke(const std::vector<std::string>& args, const std::string& program = CORVANEL) {
  const std::string errFile = "command_test.err";
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), Slurp(errFile)};
}

class Command : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // A folder of its own: ctest runs the cases of this program side by side.
    const std::string dir = "command_test_" + std::to_string(getpid());
    mkdir(dir.c_str(), 0755);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    ASSERT_EQ(Invoke({"cmd_night.png", "64", "40"}, SAMPLE).status, 0);
  }
};

TEST_F(Command, RefusesBadArgumentsWithStatus2AndAReason) {
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"cmd_night.png"}, "OUTPUT is required"},
      {{"cmd_night.png", "o.png", "--threshold", "101"}, "from 0 to 100 (got 101)"},
      {{"cmd_night.png", "o.png", "--streaks", "-1"},
       "Streaks must be a whole number from 0 to 40"},
      {{"cmd_night.png", "o.png", "--match", "1,2,300"}, "Blue must be"},
      {{"cmd_night.png", "o.png", "--mode", "blur"}, "glow or sparkle"},
      {{"cmd_night.png", "o.gif"}, "unknown output format '.gif'"},
      {{"cmd_night.png", "o.png", "--dialog"}, "Windows"},
      {{"cmd_night.png", "o.png", "--settings", "missing.txt"}, "missing.txt"},
  };
  for (const auto& c : cases) {
    Outcome o = Invoke(c.args);
    EXPECT_EQ(o.status, 2) << c.says;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
  }
  EXPECT_FALSE(Exists("o.png"));
}

TEST_F(Command, SettingsSavedAndReadBackGiveTheSameRender) {
  ASSERT_EQ(Invoke({"cmd_night.png", "a.png", "--mode", "sparkle", "--match", "255,200,90",
                    "--threshold", "40", "--radius", "9", "--save-settings", "a.txt", "-q"})
                .status,
            0);
  ASSERT_EQ(
      Invoke({"cmd_night.png", "b.png", "--settings", "a.txt", "--save-settings", "b.txt"}).status,
      0);
  EXPECT_EQ(Slurp("a.txt"), Slurp("b.txt"));
  EXPECT_NE(Slurp("a.txt").find("mode = sparkle\n"), std::string::npos);
  EXPECT_NE(Slurp("a.txt").find("radius = 9\n"), std::string::npos);
  EXPECT_EQ(Slurp("a.png"), Slurp("b.png"));
  // An option given beside the file wins.
  ASSERT_EQ(Invoke({"cmd_night.png", "c.png", "--settings", "a.txt", "--radius", "2",
                    "--save-settings", "c.txt"})
                .status,
            0);
  EXPECT_NE(Slurp("c.txt").find("radius = 2\n"), std::string::npos);
}

TEST_F(Command, RefusesBadImagesAndLeavesNoOutput) {
  { std::ofstream("cmd_bad.png") << "GIF89a broken"; }
  Outcome o = Invoke({"cmd_bad.png", "x.png"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("cmd_bad.png"), std::string::npos);
  o = Invoke({"no_such.png", "x.png"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("cannot open no_such.png"), std::string::npos);
  o = Invoke({"cmd_night.png", "no_dir/x.png"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("cannot write no_dir/x.png"), std::string::npos);
  EXPECT_FALSE(Exists("x.png"));
}

TEST_F(Command, CtrlCEndsWith130AndLeavesTheOutputAlone) {
  // The input is a pipe, so the interrupt surely arrives while the command runs.
  unlink("cmd_pipe.png");
  ASSERT_EQ(mkfifo("cmd_pipe.png", 0600), 0);
  { std::ofstream("kept.png") << "old contents"; }
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open("/dev/null", O_WRONLY);
    dup2(fd, 2);
    execl(CORVANEL, CORVANEL, "cmd_pipe.png", "kept.png", static_cast<char*>(nullptr));
    _exit(127);
  }
  int fd = open("cmd_pipe.png", O_WRONLY);  // waits until the command opens it
  ASSERT_GE(fd, 0);
  kill(pid, SIGINT);
  usleep(100000);
  const std::string image = Slurp("cmd_night.png");
  ASSERT_EQ(write(fd, image.data(), image.size()), ssize_t(image.size()));
  close(fd);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 130);
  EXPECT_EQ(Slurp("kept.png"), "old contents");
  EXPECT_FALSE(Exists("kept.png.part"));
  unlink("cmd_pipe.png");
}

}  // namespace
