// The corvanel command as a user runs it: exit statuses, messages, files left behind.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <vips/vips.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>

#include "engine/Engine.h"
#include "imagefile/ImageFile.h"
#include "imagefile/ImageSupport.h"

namespace {

struct Outcome {
  int status;  // exit status, or 128 + signal
  std::string err;
  std::string out;
};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}
void Put(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}
bool Exists(const std::string& path) {
  struct stat s;
  return lstat(path.c_str(), &s) == 0;
}
mode_t Mode(const std::string& path) {
  struct stat s {};
  stat(path.c_str(), &s);
  return s.st_mode & 07777;
}
std::set<std::string> Entries(const std::string& dir) {
  std::set<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) names.insert(e->d_name);
    closedir(d);
  }
  return names;
}

pid_t Start(const std::vector<std::string>& args, const std::string& in, const std::string& out,
            const std::string& err, const std::string& program = CORVANEL,
            rlim_t addressSpace = 0) {
  pid_t pid = fork();
  if (pid == 0) {
    if (addressSpace) {  // as on a small machine, or in a container
      const rlimit limit{addressSpace, addressSpace};
      setrlimit(RLIMIT_AS, &limit);
    }
    auto redirect = [](const std::string& path, int fd, int flags) {
      if (path.empty()) return;
      int f = open(path.c_str(), flags, 0644);
      dup2(f, fd);
    };
    redirect(in, 0, O_RDONLY);
    redirect(out, 1, O_WRONLY | O_CREAT | O_TRUNC);
    redirect(err, 2, O_WRONLY | O_CREAT | O_TRUNC);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

Outcome Invoke(const std::vector<std::string>& args, const std::string& program = CORVANEL,
               const std::string& in = "/dev/null") {
  const int status = Wait(Start(args, in, "command_test.out", "command_test.err", program));
  return {status, Slurp("command_test.err"), Slurp("command_test.out")};
}

// Every line the command writes to stderr is its own.
void ExpectOwnMessages(const Outcome& o) {
  std::istringstream lines(o.err);
  for (std::string line; std::getline(lines, line);)
    EXPECT_EQ(line.rfind("corvanel: ", 0), 0u) << line;
}

// A 16-bit RGB file of these samples (0-65535), through libvips.
bool WriteSixteenBitFile(const std::string& path, const std::vector<uint16_t>& samples, int w,
                         int h, int bands = 3) {
  VipsImage* raw = vips_image_new_from_memory_copy(samples.data(), samples.size() * 2, w, h, bands,
                                                   VIPS_FORMAT_USHORT);
  VipsImage* rgb16 = nullptr;
  const bool ok = raw &&
                  vips_copy(raw, &rgb16, "interpretation", VIPS_INTERPRETATION_RGB16, NULL) == 0 &&
                  vips_image_write_to_file(rgb16, path.c_str(), NULL) == 0;
  if (rgb16) g_object_unref(rgb16);
  if (raw) g_object_unref(raw);
  return ok;
}

// A file's samples as libvips reads them, widened to 32 bits, with their bits a sample.
std::vector<uint32_t> ReadSamples(const std::string& path, int* bits) {
  std::vector<uint32_t> samples;
  VipsImage* image = vips_image_new_from_file(path.c_str(), NULL);
  if (!image) {  // BMP and TGA, which libvips reads only through ImageMagick
    vips_error_clear();
    Image read;
    std::string error;
    *bits = LoadImageFile(path, &read, &error) ? 8 : 0;
    return std::vector<uint32_t>(read.pixels.begin(), read.pixels.end());
  }
  *bits = image->BandFmt == VIPS_FORMAT_USHORT ? 16 : 8;
  size_t size = 0;
  void* memory = vips_image_write_to_memory(image, &size);
  for (size_t i = 0; i < size / size_t(*bits / 8); ++i)
    samples.push_back(*bits == 16 ? static_cast<uint16_t*>(memory)[i]
                                  : static_cast<uint8_t*>(memory)[i]);
  g_free(memory);
  g_object_unref(image);
  return samples;
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
  static void TearDownTestSuite() {  // best effort: a failed case may have left it unwritable
    const std::filesystem::path dir = std::filesystem::current_path();
    if (chdir("..") != 0) return;
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

TEST_F(Command, RefusesBadArgumentsWithStatus2AndAReason) {
  mkdir("a_dir", 0755);
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      // The rest of the refusals of the planning step are in command_plan_test.cpp.
      {{"cmd_night.png", "o.png", "o2.png"}, "several inputs need --out-dir"},
      // The option library's refusals are said in the command's words.
      {{"cmd_night.png", "o.png", "--quality", "0"},
       "--quality must be a whole number from 1 to 100 (got '0')"},
      {{"cmd_night.png", "o.png", "--max-megapixels", "0"},
       "--max-megapixels must be a number of megapixels above 0"},
      {{"cmd_night.png", "o.png", "--threshold"}, "--threshold needs a value"},
      {{"cmd_night.png", "o.png", "--bogus"}, "unknown option --bogus"},
      {{"cmd_night.png", "-", "--format", "png", "--save-settings", "-"},
       "standard output cannot take both"},
      {{"cmd_night.png", "o.png", "--dialog"}, "Windows"},
      {{"cmd_night.png", "o.png", "--settings", "missing.txt"}, "missing.txt"},
      {{"cmd_night.png", "o.png", "--settings", "a_dir"}, "a_dir is a directory"},
      {{"-", "o.png", "--settings", "-"}, "standard input cannot give both"},
  };
  for (const auto& c : cases) {
    Outcome o = Invoke(c.args);
    EXPECT_EQ(o.status, 2) << c.says;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    ExpectOwnMessages(o);
  }
  EXPECT_FALSE(Exists("o.png"));
}

TEST_F(Command, HelpAndVersionSayWhatUsersNeed) {
  Outcome o = Invoke({"--help"});
  EXPECT_EQ(o.status, 0);
  for (const char* says :
       {"--out-dir DIR", "Exit status", "130 interrupted", "0-100 (default 5)", "in degrees",
        "Formats of this build", "start stars of their own", "filtered one at"})
    EXPECT_NE(o.out.find(says), std::string::npos) << says;
  o = Invoke({"--version"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.out.find("corvanel 2."), std::string::npos) << o.out;
  EXPECT_NE(o.out.find(ImageLibraryVersions()), std::string::npos) << o.out;
  o = Invoke({"--help"}, SAMPLE);
  EXPECT_EQ(o.status, 0);
  EXPECT_FALSE(Exists("--help"));
  o = Invoke({"s.png", "--unknown"}, SAMPLE);
  EXPECT_EQ(o.status, 2);
  EXPECT_FALSE(Exists("s.png"));
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
  // An option given beside the file wins, and of a repeated option the last one; the
  // settings file read may be rewritten.
  Put("c.txt", "\xEF\xBB\xBFmode = sparkle  # stars\nmatch = 255,200,90\nradius = 7 # small\n");
  Outcome o = Invoke({"cmd_night.png", "c.png", "--settings", "c.txt", "--radius", "2", "--radius",
                      "3", "-q", "-q", "--save-settings", "c.txt"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(Slurp("c.txt").find("radius = 3\n"), std::string::npos);
  EXPECT_NE(Slurp("c.txt").find("red = 255\ngreen = 200\nblue = 90\n"), std::string::npos);
  // "-" writes the settings to standard output, and nothing named "-"; and reads them.
  o = Invoke({"cmd_night.png", "d.png", "--threshold", "12", "--save-settings", "-", "-q"});
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_NE(o.out.find("threshold = 12\n"), std::string::npos);
  EXPECT_FALSE(Exists("-"));
  Put("d.txt", o.out);
  o = Invoke({"cmd_night.png", "d2.png", "--settings", "-", "--save-settings", "d2.txt"}, CORVANEL,
             "d.txt");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(Slurp("d2.txt"), Slurp("d.txt"));
  // The settings file read is an input like the image: no image may be written over it.
  Put("s.png", "radius = 3\n");
  o = Invoke({"cmd_night.png", "s.png", "--settings", "s.png"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("s.png is the input s.png"), std::string::npos) << o.err;
  EXPECT_EQ(Slurp("s.png"), "radius = 3\n");
}

// Two steps of an action with different settings, recorded as an editor with scripting
// records them and played back as it plays them: each gives the image it was recorded with,
// and its file names every setting the plug-in recorded. A step that is not enough fails in
// a silent run, saying why; a step is never recorded over an input, nor played from stdin.
TEST_F(Command, StepsRecordedAndPlayedBackGiveTheirOwnRenders) {
  ASSERT_EQ(Invoke({"cmd_night.png", "glow.png", "--match", "255,200,90", "--threshold", "40",
                    "--radius", "9", "--record", "glow.step", "-q"})
                .status,
            0);
  ASSERT_EQ(Invoke({"cmd_night.png", "stars.png", "--mode", "sparkle", "--threshold", "12",
                    "--streaks", "6", "--record", "stars.step", "-q"})
                .status,
            0);
  const std::string glow = Slurp("glow.step");
  for (const char* says :
       {"Color to Match 'mtCh' = RGB 255, 200, 90\n", "Threshold 'thrH' = 40\n",
        "Radius 'raDs' = 9\n", "Mode 'moDe' = Glow\n", "Use Color 'usCl' = off\n"})
    EXPECT_NE(glow.find(says), std::string::npos) << says << " in\n" << glow;
  EXPECT_NE(Slurp("stars.step").find("Mode 'moDe' = Sparkle\n"), std::string::npos);
  for (const char* name : {"glow", "stars"}) {
    const std::string step = std::string(name) + ".step";
    Outcome o = Invoke({"cmd_night.png", std::string("played-") + name + ".png", "--play", step,
                        "--record", std::string("again-") + step, "-q"});
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(Slurp(std::string("played-") + name + ".png"), Slurp(std::string(name) + ".png"));
    EXPECT_EQ(Slurp("again-" + step), Slurp(step));
  }
  EXPECT_NE(Slurp("glow.png"), Slurp("stars.png"));

  Put("short.step", "Threshold 'thrH' = 40\n");
  Outcome o = Invoke({"cmd_night.png", "short.png", "--play", "short.step"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("Corvanel cannot run with these settings: Color to Match is missing."),
            std::string::npos)
      << o.err;
  EXPECT_FALSE(Exists("short.png"));
  const struct {
    std::string text;
    const char* says;
  } bad[] = {{"Radius 'raDs' = nine\n", "line 1: Radius must be a whole number, not \"nine\""},
             {"# a comment\n\nBlur 'bLur' = 3\n", "line 3: 'bLur' is no setting of Corvanel"},
             {"Mode 'moDe' = Haze\n", "Mode must be one of its choices"},
             {"radius 9\n", "line 1: expected NAME 'KEY' = VALUE"}};
  for (const auto& c : bad) {
    Put("bad.step", c.text);
    o = Invoke({"cmd_night.png", "bad.png", "--play", "bad.step"});
    EXPECT_EQ(o.status, 2) << c.says;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
  }
  o = Invoke({"cmd_night.png", "x.png", "--play", "glow.step", "--radius", "3"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("--play gives every setting"), std::string::npos) << o.err;
  o = Invoke({"cmd_night.png", "x.png", "--record", "cmd_night.png"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("is the input"), std::string::npos) << o.err;
  EXPECT_EQ(Invoke({"cmd_night.png", "x.png", "--play", "-"}).status, 2);
  EXPECT_FALSE(Exists("bad.png") || Exists("x.png"));
}

TEST_F(Command, StandardInputAndOutput) {
  Outcome o = Invoke({"-", "-", "--format", "png", "-q"}, CORVANEL, "cmd_night.png");
  ASSERT_EQ(o.status, 0) << o.err;
  ASSERT_EQ(Invoke({"cmd_night.png", "e.png", "-q"}).status, 0);
  EXPECT_EQ(o.out, Slurp("e.png"));
  o = Invoke({"-", "-", "--format", "jpg", "--save-settings", "-"}, CORVANEL, "cmd_night.png");
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("standard output cannot take both"), std::string::npos) << o.err;
}

// What a run says: the pixels in the colour window, or a warning when there are none.
TEST_F(Command, SaysHowManyPixelsLieInTheColourWindow) {
  // White, near white, black, red: with Threshold 5 around white, two of four.
  std::string error;
  ASSERT_TRUE(SaveImageFile(
      "four.png", Image{4, 1, 3, {255, 255, 255, 250, 251, 252, 0, 0, 0, 255, 0, 0}}, &error));
  Outcome o = Invoke({"four.png", "f.png", "--threshold", "5"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.err.find("corvanel: 2 of 4 pixels (50.00 %) in the colour window, "),
            std::string::npos)
      << o.err;
  o = Invoke({"four.png", "g.png", "--match", "1,2,3", "--threshold", "0", "--mode", "sparkle"});
  EXPECT_EQ(o.status, 0);
  EXPECT_NE(o.err.find("no pixel lies within Threshold of 1,2,3: the image is unchanged"),
            std::string::npos)
      << o.err;
  o = Invoke({"four.png", "h.png", "-q"});
  EXPECT_EQ(o.err, "");
}

// Each case of a command that must lose nothing: what is set up, what is run, what it
// must say, and what must hold afterwards.
struct SafetyCase {
  const char* name;
  std::function<void()> setUp;
  std::vector<std::string> args;
  int status;
  const char* says;
  std::function<void()> check;
};

TEST_F(Command, LosesNothing) {
  const std::string night = Slurp("cmd_night.png");
  mkdir("safe", 0755);
  ASSERT_EQ(chdir("safe"), 0);
  auto fresh = [&](const char* name) { Put(name, night); };
  const SafetyCase cases[] = {
      {"settings over the input",
       [&] { fresh("in.png"); },
       {"in.png", "in.png", "--save-settings", "in.png"},
       1,
       "destroy the input",
       [&] { EXPECT_EQ(Slurp("in.png"), night); }},
      {"output is the input by another name",
       [&] { fresh("in.png"); },
       {"in.png", "./in.png"},
       1,
       "is the input in.png",
       [&] { EXPECT_EQ(Slurp("in.png"), night); }},
      {"output is a link to the input",
       [&] {
         fresh("in.png");
         unlink("ln.png");
         symlink("in.png", "ln.png");
       },
       {"in.png", "ln.png"},
       1,
       "is the input",
       [&] { EXPECT_EQ(Slurp("in.png"), night); }},
      {"output is a hard link of the input",
       [&] {
         fresh("in.png");
         unlink("hard.png");
         link("in.png", "hard.png");
       },
       {"in.png", "hard.png"},
       1,
       "is the input",
       [&] { EXPECT_EQ(Slurp("in.png"), night); }},
      {"settings and image the same output",
       [&] { fresh("in.png"); },
       {"in.png", "out.png", "--save-settings", "out.png"},
       2,
       "would be written twice",
       [&] { EXPECT_FALSE(Exists("out.png")); }},
      {"settings folder missing: checked before any work",
       [&] { fresh("in.png"); },
       {"in.png", "out.png", "--save-settings", "nodir/s.txt"},
       1,
       "the folder nodir does not exist",
       [&] { EXPECT_FALSE(Exists("out.png")); }},
      {"a folder that takes no new files (even from root)",
       [&] { fresh("in.png"); },
       {"in.png", "/proc/out.png"},
       1,
       "cannot write /proc/out.png: cannot create files in /proc",
       [] {}},
      {"image folder missing",
       [&] { fresh("in.png"); },
       {"in.png", "nodir/x.png"},
       1,
       "cannot write nodir/x.png: the folder nodir does not exist",
       [] {}},
      {"a private output stays private",
       [&] {
         fresh("in.png");
         Put("priv.png", "old");
         chmod("priv.png", 0600);
       },
       {"in.png", "priv.png", "-q"},
       0,
       "",
       [&] {
         EXPECT_EQ(Mode("priv.png"), 0600u);
         EXPECT_NE(Slurp("priv.png"), "old");
       }},
      {"a symbolic link is written through",
       [&] {
         fresh("in.png");
         Put("target.png", "old");
         unlink("link.png");
         symlink("target.png", "link.png");
       },
       {"in.png", "link.png", "-q"},
       0,
       "",
       [&] {
         struct stat s;
         ASSERT_EQ(lstat("link.png", &s), 0);
         EXPECT_TRUE(S_ISLNK(s.st_mode));
         EXPECT_EQ(Slurp("target.png").substr(1, 3), "PNG");
       }},
      {"hard links keep seeing the file",
       [&] {
         fresh("in.png");
         Put("one.png", "old");
         unlink("two.png");
         link("one.png", "two.png");
       },
       {"in.png", "one.png", "-q"},
       0,
       "",
       [&] {
         EXPECT_EQ(Slurp("two.png").substr(1, 3), "PNG");
         EXPECT_EQ(Slurp("two.png"), Slurp("one.png"));
       }},
      {"a file named like a temporary one survives",
       [&] {
         fresh("in.png");
         Put("keep.png.part", "mine");
       },
       {"in.png", "keep.png", "-q"},
       0,
       "",
       [&] { EXPECT_EQ(Slurp("keep.png.part"), "mine"); }},
      {"a directory as input",
       [] { mkdir("dir_in", 0755); },
       {"dir_in", "out.png"},
       1,
       "dir_in is a directory",
       [] {}},
      {"a directory as output",
       [&] { fresh("in.png"); },
       {"in.png", "dir_in"},
       1,
       "cannot write dir_in: it is a directory",
       [] {}},
      {"a directory named like an image as output",
       [&] {
         fresh("in.png");
         mkdir("dir.png", 0755);
       },
       {"in.png", "dir.png"},
       1,
       "cannot write dir.png: it is a directory",
       [] {}},
      {"a read-only output is refused",
       [&] {
         fresh("in.png");
         Put("ro.png", "old");
         chmod("ro.png", 0444);
       },
       {"in.png", "ro.png"},
       1,
       "ro.png: it is read-only",
       [&] { EXPECT_EQ(Slurp("ro.png"), "old"); }},
      {"a link to nothing is not written through",
       [&] {
         fresh("in.png");
         unlink("dangling.png");
         symlink("nowhere/x.png", "dangling.png");
       },
       {"in.png", "dangling.png"},
       1,
       "symbolic link to a missing file",
       [] {}},
      {"an image too large to decode is refused, naming its size and the limit",
       [] {
         // A PNG that claims 20000 x 20000 pixels and holds almost none.
         Put("huge.png",
             std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x4e\x20\0\0\x4e\x20\x08\x02"
                         "\0\0\0\x6c\x12\xd1\x6e\0\0\0\x0bIDAT\x78\x9c\x63\x60\x40\x05"
                         "\0\0\x10\0\x01\x39\xbd\x8f\x65\0\0\0\0IEND\xae\x42\x60\x82",
                         68));
       },
       {"huge.png", "out.png", "--max-megapixels", "100"},
       1,
       "huge.png is 20000 x 20000 pixels (400.0 megapixels), more than the limit of 100.0 "
       "megapixels; --max-megapixels raises it",
       [] { EXPECT_FALSE(Exists("out.png")); }},
  };
  for (const SafetyCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.setUp();
    const std::set<std::string> before = Entries(".");
    Outcome o = Invoke(c.args);
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    ExpectOwnMessages(o);
    c.check();
    // Nothing new but the output (and the files the harness itself writes).
    for (const std::string& name : Entries(".")) {
      if (before.count(name) || name.rfind("command_test.", 0) == 0) continue;
      EXPECT_EQ(c.status, 0) << "left behind: " << name;
      EXPECT_EQ(name.find("corvanel"), std::string::npos) << "left behind: " << name;
    }
    unlink("out.png");
  }
  ASSERT_EQ(chdir(".."), 0);
}

TEST_F(Command, RefusesBadImagesAndLeavesNoOutput) {
  Put("cmd_bad.png", "GIF89a broken");
  Outcome o = Invoke({"cmd_bad.png", "x.png"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("cmd_bad.png"), std::string::npos);
  o = Invoke({"no_such.png", "x.png"});
  EXPECT_EQ(o.status, 1);
  EXPECT_NE(o.err.find("cannot open no_such.png"), std::string::npos);
  EXPECT_FALSE(Exists("x.png"));
}

TEST_F(Command, BatchGoesOnPastAFailedFile) {
  mkdir("batch_in", 0755);
  mkdir("batch_out", 0755);
  Put("batch_in/a.png", Slurp("cmd_night.png"));
  Put("batch_in/broken.png", "not an image");
  Put("batch_in/c.png", Slurp("cmd_night.png"));
  Outcome o = Invoke({"batch_in/a.png", "batch_in/broken.png", "batch_in/c.png", "--out-dir",
                      "batch_out", "--format", "jpg"});
  EXPECT_EQ(o.status, 1);
  ExpectOwnMessages(o);
  EXPECT_NE(o.err.find("batch_in/a.png -> batch_out/a.jpg: "), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("broken.png"), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("corvanel: 2 of 3 files written, 1 failed; "), std::string::npos) << o.err;
  EXPECT_TRUE(Exists("batch_out/a.jpg"));
  EXPECT_TRUE(Exists("batch_out/c.jpg"));
  EXPECT_FALSE(Exists("batch_out/broken.jpg"));
  // Two inputs of one name would meet in the folder: refused before any work.
  mkdir("batch_in/sub", 0755);
  Put("batch_in/sub/a.png", Slurp("cmd_night.png"));
  o = Invoke({"batch_in/a.png", "batch_in/sub/a.png", "--out-dir", "batch_out"});
  EXPECT_EQ(o.status, 2);
  EXPECT_NE(o.err.find("batch_out/a.png would be written twice (from batch_in/a.png and "
                       "batch_in/sub/a.png) (nothing written)"),
            std::string::npos)
      << o.err;
  EXPECT_FALSE(Exists("batch_out/a.png"));
}

// 16-bit files are filtered and written at 16 bits where the format keeps them, by the
// documented conversions: a render that lights nothing gives every sample back as
// round(round(v x 32768 / 65535) x 65535 / 32768); --depth and 8-bit formats take the nearest
// 8-bit values; the line after the run says the depth, a reduction is noted.
TEST_F(Command, KeepsSixteenBitsWhereTheFormatDoesAndSaysTheDepth) {
  const int w = 64, h = 32;
  std::vector<uint16_t> deep(size_t(w) * h * 3);
  for (size_t i = 0; i < deep.size(); ++i) deep[i] = uint16_t(3000 + i * 7919 % 62000);
  std::vector<uint8_t> flat(deep.size());
  for (size_t i = 0; i < flat.size(); ++i) flat[i] = uint8_t(10 + i * 31 % 240);
  ASSERT_TRUE(WriteSixteenBitFile("d16.png", deep, w, h));
  ASSERT_TRUE(WriteSixteenBitFile("d16.tif", deep, w, h));
  std::string error;
  ASSERT_TRUE(SaveImageFile("d8.png", Image{w, h, 3, flat}, &error)) << error;
  auto kept = [&](size_t i) { return uint32_t(FileOfHostSample(HostOfFileSample(deep[i]))); };
  auto nearest = [&](size_t i) { return uint32_t(EightBitOfFileSample(deep[i])); };
  auto widened = [&](size_t i) { return uint32_t(FileOfHostSample(SixteenOfEightBit(flat[i]))); };
  const struct {
    const char *in, *out, *depth;
    int bits;
    std::function<uint32_t(size_t)> expected;
    const char *says, *note;
  } cases[] = {
      {"d16.png", "o16.png", nullptr, 16, kept, "(Threshold 0; 16-bit)", nullptr},
      {"d16.tif", "o16.tif", nullptr, 16, kept, "(Threshold 0; 16-bit)", nullptr},
      {"d16.png", "o8.png", "8", 8, nearest, "(Threshold 0; 8-bit)", "--depth 8"},
      {"d16.tif", "o8.bmp", nullptr, 8, nearest, "(Threshold 0; 16-bit, written as 8-bit)",
       ".bmp keeps 8-bit samples"},
      {"d8.png", "w16.tif", "16", 16, widened, "(Threshold 0; 16-bit)", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    std::vector<std::string> args{c.in, c.out, "--match", "1,2,3", "--threshold", "0"};
    if (c.depth) args.insert(args.end(), {"--depth", c.depth});
    const Outcome o = Invoke(args);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.err.find(c.says), std::string::npos) << o.err;
    if (c.note) {
      EXPECT_NE(o.err.find(c.note), std::string::npos) << o.err;
    } else {
      EXPECT_EQ(o.err.find("note:"), std::string::npos) << o.err;
    }
    int bits = 0;
    const std::vector<uint32_t> got = ReadSamples(c.out, &bits);
    EXPECT_EQ(bits, c.bits);
    ASSERT_EQ(got.size(), deep.size());
    for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], c.expected(i)) << i;
  }
  EXPECT_EQ(Invoke({"d16.png", "x.png", "--depth", "12"}).status, 2);
}

// Glow at 16 bits on a scene converted from 8 bits draws what the 8-bit render draws: reduced
// back to 8 bits, within half a step on average.
// An 8-bit file rendered at 16 bits is the 8-bit render, reduced back to 8 bits.
TEST_F(Command, GlowAtSixteenBitsNarrowedIsTheEightBitRender) {
  ASSERT_EQ(Invoke({"cmd_night.png", "g8.png", "--radius", "12", "-q"}).status, 0);
  ASSERT_EQ(Invoke({"cmd_night.png", "g16.png", "--radius", "12", "--depth", "16", "-q"}).status,
            0);
  int bits8 = 0, bits16 = 0, bitsIn = 0;
  const std::vector<uint32_t> eight = ReadSamples("g8.png", &bits8);
  const std::vector<uint32_t> sixteen = ReadSamples("g16.png", &bits16);
  const std::vector<uint32_t> in = ReadSamples("cmd_night.png", &bitsIn);
  ASSERT_EQ(bits16, 16);
  ASSERT_EQ(eight.size(), sixteen.size());
  ASSERT_EQ(in.size(), eight.size());
  size_t changed = 0, differ = 0;
  for (size_t i = 0; i < eight.size(); ++i) {
    const uint32_t narrowed = EightBitOfFileSample(uint16_t(sixteen[i]));
    differ += narrowed != eight[i];
    changed += narrowed != in[i];
  }
  EXPECT_GT(changed, eight.size() / 50);
  EXPECT_EQ(differ, 0u);
}

TEST_F(Command, SaysEachNoteOnceAndQualityApplies) {
  // Two 16-bit inputs written as JPEG: the reduction is said once, not per file.
  mkdir("deep", 0755);
  mkdir("deep/out", 0755);
  ASSERT_TRUE(WriteSixteenBitFile("deep/a.png", std::vector<uint16_t>(16 * 8 * 3, 40000), 16, 8));
  ASSERT_TRUE(WriteSixteenBitFile("deep/b.png", std::vector<uint16_t>(16 * 8 * 3, 40000), 16, 8));
  Outcome o = Invoke({"deep/a.png", "deep/b.png", "--out-dir", "deep/out", "--format", "jpg"});
  EXPECT_EQ(o.status, 0) << o.err;
  const size_t first = o.err.find(".jpg keeps 8-bit samples");
  ASSERT_NE(first, std::string::npos) << o.err;
  EXPECT_EQ(o.err.find(".jpg keeps 8-bit samples", first + 1), std::string::npos) << o.err;

  ASSERT_EQ(Invoke({"cmd_night.png", "q30.jpg", "--quality", "30", "-q"}).status, 0);
  ASSERT_EQ(Invoke({"cmd_night.png", "q95.jpg", "--quality", "95", "-q"}).status, 0);
  EXPECT_LT(Slurp("q30.jpg").size() * 3 / 2, Slurp("q95.jpg").size());
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
constexpr bool kSanitized = __has_feature(address_sanitizer);
#else
constexpr bool kSanitized = false;
#endif

// A 24-megapixel image under less and less address space, with the default limit and with
// a raised one: at every limit the big file is either written, or refused for memory (or by
// the limit) by name and size, leaving nothing behind, and the small file after it in the
// batch is written all the same.
TEST_F(Command, RunningOutOfMemoryEndsThatFileOnly) {
  if (kSanitized) GTEST_SKIP() << "AddressSanitizer reserves more address space than any limit";
  mkdir("oom", 0755);
  VipsImage* grey = nullptr;
  ASSERT_EQ(vips_black(&grey, 6000, 4000, "bands", 3, NULL), 0);
  VipsImage* big = nullptr;
  ASSERT_EQ(vips_linear1(grey, &big, 1.0, 250.0, "uchar", TRUE, NULL), 0);  // all in the window
  ASSERT_EQ(vips_image_write_to_file(big, "oom/big.png", NULL), 0);
  g_object_unref(big);
  g_object_unref(grey);
  Put("oom/small.png", Slurp("cmd_night.png"));
  int saidMemory = 0;
  for (rlim_t megabytes : {400, 600, 800, 1000, 1400})
    for (const char* limit : {"", "100"}) {
      SCOPED_TRACE(std::to_string(megabytes) + " MB, --max-megapixels " + limit);
      ASSERT_EQ(system("rm -rf oom/out && mkdir oom/out"), 0);
      std::vector<std::string> args{"oom/big.png", "oom/small.png", "--out-dir", "oom/out",
                                    "--format",    "jpg",           "--radius",  "3"};
      if (*limit) args.insert(args.end(), {"--max-megapixels", limit});
      const int status = Wait(
          Start(args, "/dev/null", "/dev/null", "command_test.err", CORVANEL, megabytes << 20));
      const std::string err = Slurp("command_test.err");
      const std::set<std::string> written = Entries("oom/out");
      EXPECT_TRUE(written.count("small.jpg")) << err;
      ExpectOwnMessages({status, err, ""});
      if (status == 0) {
        EXPECT_TRUE(written.count("big.jpg")) << err;
        continue;
      }
      EXPECT_EQ(status, 1) << err;
      EXPECT_EQ(written, (std::set<std::string>{".", "..", "small.jpg"})) << err;
      const bool memory =
          err.find("not enough memory for oom/big.png (24.0 megapixels): ") != std::string::npos &&
          err.find("could not be had") != std::string::npos;
      EXPECT_TRUE(memory || err.find("oom/big.png is 6000 x 4000 pixels") != std::string::npos)
          << err;
      saidMemory += memory;
    }
  EXPECT_GT(saidMemory, 0) << "no limit ran short of memory";
}

// Interrupts while the command waits on a named pipe: each signal after its delay, then
// the image. It ends with the status, saying the message, and leaves no file.
struct Signal {
  int number;
  int delayMs;  // after the one before
};
void InterruptWhileReading(const std::vector<std::string>& args, const std::string& pipe,
                           const std::vector<Signal>& signals, int status,
                           const std::string& says) {
  unlink(pipe.c_str());
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  pid_t pid = Start(args, "/dev/null", "/dev/null", "command_test.err");
  int fd = open(pipe.c_str(), O_WRONLY);  // waits until the command opens it
  ASSERT_GE(fd, 0);
  for (const Signal& s : signals) {
    usleep(useconds_t(s.delayMs) * 1000);
    kill(pid, s.number);
  }
  usleep(100000);
  const std::string image = Slurp("cmd_night.png");
  signal(SIGPIPE, SIG_IGN);  // a command that ended at once has closed its end
  if (write(fd, image.data(), image.size()) < 0) {
  }
  close(fd);
  EXPECT_EQ(Wait(pid), status);
  const std::string err = Slurp("command_test.err");
  EXPECT_NE(err.find(says), std::string::npos) << err;
  ExpectOwnMessages({status, err, ""});
  unlink(pipe.c_str());
}

TEST_F(Command, InterruptsEndWithTheirStatusSayingWhatWasNotWritten) {
  Put("kept.png", "old contents");
  const std::set<std::string> before = Entries(".");
  const struct {
    const char* name;
    std::vector<Signal> signals;
    int status;
  } cases[] = {
      {"Ctrl-C: the work stops at the next step", {{SIGINT, 0}}, 130},
      // timeout(1) and a shell's Ctrl-C may deliver one interrupt twice at once.
      {"one interrupt delivered twice", {{SIGINT, 0}, {SIGINT, 0}}, 130},
      {"a second Ctrl-C ends it at once", {{SIGINT, 0}, {SIGINT, 700}}, 130},
      {"a request to terminate ends it at once", {{SIGTERM, 0}}, 128 + SIGTERM},
      {"a closed terminal ends it at once", {{SIGHUP, 0}}, 128 + SIGHUP},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    InterruptWhileReading({"cmd_pipe.png", "kept.png"}, "cmd_pipe.png", c.signals, c.status,
                          "corvanel: interrupted; kept.png not written");
    EXPECT_EQ(Slurp("kept.png"), "old contents");
    EXPECT_EQ(Entries("."), before);
  }

  // In a batch the files before are written, the rest not begun.
  mkdir("ctrlc", 0755);
  mkdir("ctrlc/out", 0755);
  Put("ctrlc/first.png", Slurp("cmd_night.png"));
  Put("ctrlc/last.png", Slurp("cmd_night.png"));
  for (int twice : {0, 1}) {
    std::vector<Signal> signals{{SIGINT, 0}};
    if (twice) signals.push_back({SIGINT, 700});
    InterruptWhileReading(
        {"ctrlc/first.png", "ctrlc/pipe.png", "ctrlc/last.png", "--out-dir", "ctrlc/out"},
        "ctrlc/pipe.png", signals, 130,
        "corvanel: interrupted; ctrlc/out/pipe.png not written (1 written before)");
    EXPECT_EQ(Entries("ctrlc/out"), (std::set<std::string>{".", "..", "first.png"}));
  }
}

}  // namespace
