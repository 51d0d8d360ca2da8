// No temporary file outlives its run: a signal stops the tool as Ctrl+C
// does, the files of a killed run go at the next start, those of a live run
// never, and saves clear the parts that killed saves left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/settings_store.h"
#include "support.h"

namespace fs = std::filesystem;
using qvtest::TempDir;

namespace {

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(folder)) names.insert(fs::relative(e.path(), folder).string());
  return names;
}

// The number of a process that has ended.
pid_t EndedProcess() {
  const pid_t pid = fork();
  if (pid == 0) _exit(0);
  waitpid(pid, nullptr, 0);
  return pid;
}

// A quelvista-cli command whose output (standard output and messages, on
// one pipe) the test reads as it comes. The pipe holds one page, so a
// command that writes more than that waits until the test reads on: the
// test, not the clock, decides where it stands. The shell gives its number,
// then becomes the command.
class Child {
 public:
  Child(const TempDir& dir, const std::string& tmp, const std::vector<std::string>& args) {
    std::string cmd = "echo $$; exec env -i HOME=" + qvtest::Q(dir.path().string()) +
                      " XDG_CONFIG_HOME=" + qvtest::Q(dir.File("config")) + " TMPDIR=" + qvtest::Q(tmp) +
                      " LC_ALL=C PATH=/usr/bin:/bin " + QUELVISTA_CLI;
    for (const std::string& a : args) cmd.append(" ").append(qvtest::Q(a));
    pipe_ = popen((cmd + " 2>&1").c_str(), "r");
    fcntl(fileno(pipe_), F_SETPIPE_SZ, 4096);
    EXPECT_TRUE(WaitFor("\n"));
    pid_ = std::stoi(text_);
  }
  ~Child() {
    if (pid_ > 0) kill(pid_, SIGKILL);
    if (pipe_) pclose(pipe_);
  }
  // Reads until `text` has come; false when the output ended first.
  bool WaitFor(const std::string& text) {
    while (text_.find(text) == std::string::npos)
      if (!ReadSome()) return false;
    return true;
  }
  void Signal(int sig) { kill(pid_, sig); }
  // Reads to the end of the output, then the status as waitpid gives it.
  int Finish() {
    while (ReadSome()) {
    }
    pid_ = 0;
    const int status = pclose(pipe_);
    pipe_ = nullptr;
    return status;
  }
  const std::string& Text() const { return text_; }

 private:
  bool ReadSome() {
    char buf[4096];
    const ssize_t got = read(fileno(pipe_), buf, sizeof buf);
    if (got > 0) text_.append(buf, static_cast<size_t>(got));
    return got > 0;
  }
  FILE* pipe_ = nullptr;
  pid_t pid_ = 0;
  std::string text_;
};

// A night of small frames, and the two commands that make temporary files
// as they go: each writes more than a pipe holds before it ends, so it
// waits, files on disk, for the test to read on.
struct Night {
  static constexpr int kJunk = 300;
  TempDir dir;
  std::string tmp = dir.File("tmp"), out = dir.File("result.fts");
  Night() {
    fs::create_directory(tmp);
    qvtest::SimulateNight(dir, "sim", "--frames 60 --width 96 --height 72 --seed 4", "TMPDIR=" + tmp + " ");
    // Frames the master refuses, each with a line on stderr: many more lines
    // than the test's first read and a full pipe take, however short the
    // folder's name.
    for (int k = 0; k < kJunk; ++k) std::ofstream(dir.File("junk" + std::to_string(100 + k) + ".fts")) << "SIMPLE  =";
  }
  // The command, and what it says once its first temporary file is made.
  std::unique_ptr<Child> Start(const std::string& command, std::string& mark) const {
    std::vector<std::string> args;
    if (command == "stack") {
      args = {"stack", dir.File("sim/project.txt"), "--out", out};
      mark = "\"image\":1,";
    } else {
      args = {"master", "dark", dir.File("sim/frame001.fts")};
      for (int k = 0; k < kJunk; ++k) args.push_back(dir.File("junk" + std::to_string(100 + k) + ".fts"));
      args.insert(args.end(), {"--out", out});
      mark = "image refusée";
    }
    return std::make_unique<Child>(dir, tmp, args);
  }
};

}  // namespace

// SIGTERM, SIGHUP and SIGINT stop the tool as Ctrl+C does and its files go
// with it. A kill leaves them: the start of another process keeps them while
// the run lives, and removes them, lock and all, once it is dead.
TEST(Orphans, ASignalStopsTheToolAndAKilledRunsFilesGoAtTheNextStart) {
  Night night;
  ASSERT_FALSE(HasFailure());
  for (const std::string command : {"stack", "master"})
    for (const int sig : {SIGTERM, SIGHUP, SIGINT, SIGKILL}) {
      std::string mark;
      const auto child = night.Start(command, mark);
      ASSERT_TRUE(child->WaitFor(mark)) << command << " " << child->Text();
      const std::set<std::string> live = Names(night.tmp);
      EXPECT_EQ(std::count_if(live.begin(), live.end(), [](const std::string& n) { return n.ends_with(".lock"); }), 1)
          << command;
      if (sig == SIGKILL) {
        const qvtest::CliResult other = qvtest::Cli(night.dir, "settings", "TMPDIR=" + night.tmp + " ");
        EXPECT_EQ(other.status, 0) << other.err;
        const std::set<std::string> now = Names(night.tmp);
        EXPECT_TRUE(std::includes(now.begin(), now.end(), live.begin(), live.end())) << command;
      }
      child->Signal(sig);
      const int status = child->Finish();
      if (sig == SIGKILL) {
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_FALSE(Names(night.tmp).empty()) << command << ": a kill leaves them";
        EXPECT_EQ(qvtest::Cli(night.dir, "settings", "TMPDIR=" + night.tmp + " ").status, 0);
      } else {
        ASSERT_TRUE(WIFEXITED(status)) << command << " signal " << sig;
        EXPECT_EQ(WEXITSTATUS(status), 128 + sig) << command;
        EXPECT_NE(child->Text().find("arrêt demandé : rien n'a été écrit"), std::string::npos) << child->Text();
        EXPECT_FALSE(fs::exists(night.out)) << command;
      }
      EXPECT_TRUE(Names(night.tmp).empty()) << command << " signal " << sig;
    }
}

// The sweep removes only names of ours, of runs that have ended.
TEST(Orphans, OnlyOurFilesOfEndedRunsAreSwept) {
  TempDir dir;
  const std::string tmp = dir.File("tmp"), outside = dir.File("outside");
  fs::create_directories(tmp);
  fs::create_directories(outside);
  const std::string dead = std::to_string(EndedProcess()), dead2 = std::to_string(EndedProcess()),
                    dead3 = std::to_string(EndedProcess()), live = std::to_string(getpid());
  const std::vector<std::tuple<std::string, bool, bool>> cases = {
      // name, a folder, swept
      {"Quelvista_1A2B_" + dead + "_1.bin", false, true},
      {"Quelvista_1A2B_" + dead + "_12.bin", false, true},
      {"Quelvista_1A2B_" + dead + "_3.rej", false, true},          // a layer of the rejection
      {"Quelvista_1A2B_" + dead + "_3.rej.txt", false, false},     //
      {"Quelvista_" + dead2 + ".lock", false, true},               // a lock with no file left
      {"quelvista-master-" + dead + "/0.raw", false, true},        // and its folder, then empty
      {"Quelvista_1A2B_" + live + "_1.bin", false, false},         // no lock, but its process lives
      {"Quelvista_1a2b_" + dead + "_1.bin", false, false},         // not our hexadecimal
      {"Quelvista_1A2B_" + dead + "_1.bin.txt", false, false},     // not our ending
      {"Quelvista_1A2B_" + dead + "_2.bin", true, false},          // a folder under a file's name
      {"Quelvista_notes.txt", false, false},                       //
      {"Quelvista_0" + dead + ".lock", false, false},              // no number of a process
      {"quelvista-master-" + dead2 + "/3.raw", false, true},       // a frame of ours...
      {"quelvista-master-" + dead2 + "/notes.txt", false, false},  // ...beside a file that is not
      {"quelvista-master-x" + dead + "/0.raw", false, false},      //
  };
  for (const auto& [name, folder, swept] : cases) {
    const fs::path p = fs::path(tmp) / name;
    fs::create_directories(folder ? p : p.parent_path());
    if (!folder) std::ofstream(p) << "x";
  }
  // A link under a staging folder's name is not followed.
  std::ofstream(outside + "/0.raw") << "x";
  fs::create_directory_symlink(outside, tmp + "/quelvista-master-" + dead3);

  const qvtest::CliResult r = qvtest::Cli(dir, "settings", "TMPDIR=" + tmp + " ");
  EXPECT_EQ(r.status, 0) << r.err;
  for (const auto& [name, folder, swept] : cases) EXPECT_EQ(fs::exists(fs::path(tmp) / name), !swept) << name;
  EXPECT_FALSE(fs::exists(tmp + "/quelvista-master-" + dead));
  EXPECT_TRUE(fs::exists(tmp + "/quelvista-master-" + dead2));
  EXPECT_TRUE(fs::exists(outside + "/0.raw"));
}

// What a settings save killed half-way leaves beside the file goes at the
// next start-up and at the next save, unless its process still runs.
TEST(Orphans, SettingsPartsOfEndedProcessesGo) {
  const std::string dead = std::to_string(EndedProcess()), live = std::to_string(getppid());
  const std::vector<std::pair<std::string, bool>> cases = {
      // name, swept
      {"qv.ini.part" + dead, true},              // the new contents, made beside the file
      {"qv.ini.part" + dead + ".3", true},       // a read-back copy
      {"qv.ini.part" + dead + ".lock", true},    // Qt's lock of that save
      {"qv.ini.part" + dead + ".aB3xYz", true},  // Qt's temporary name, where it needs one
      {"qv.ini.part" + live, false},             // a save under way in another process
      {"qv.ini.part0" + dead, false},            //
      {"qv.ini.partial", false},                 //
      {"other.ini.part" + dead, false},          //
  };
  for (const bool atSave : {false, true}) {
    TempDir dir;
    const std::string ini = dir.File("qv.ini");
    std::ofstream(ini) << "[Settings]\nMaskThr=5000\n";
    for (const auto& [name, swept] : cases) std::ofstream(dir.File(name)) << "[Settings]\n";
    qv::QtSettingsStore store(ini);
    // For the save, the parts again after the start-up swept them.
    if (atSave)
      for (const auto& [name, swept] : cases) std::ofstream(dir.File(name)) << "[Settings]\n";
    EXPECT_TRUE(!atSave || store.Write("Settings", "MaskThr", "6000"));
    EXPECT_EQ(store.Read("Settings", "MaskThr", ""), std::optional<std::string>(atSave ? "6000" : "5000"));
    for (const auto& [name, swept] : cases)
      EXPECT_EQ(fs::exists(dir.File(name)), !swept) << name << (atSave ? " at a save" : " at start-up");
  }
}
