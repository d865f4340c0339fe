// Where the outputs go, refused before anything is computed, the same way by
// both table programs: every case leaves every file as it was.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "run_process.hpp"

namespace slipvel::testing {
namespace {

const std::string kBatch = SLIPVEL_BATCH_PROGRAM;
const std::string kRupture = SLIPVEL_RUPTURE_PROGRAM;

// Every file of a folder and its bytes (a link's target for a link).
std::map<std::string, std::string> snapshot(const std::filesystem::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    const std::string name = entry.path().filename();
    std::error_code error;
    if (entry.is_symlink(error)) {
      files[name] = "-> " + std::filesystem::read_symlink(entry.path(), error).string();
    } else {
      files[name] = entry.is_directory(error) ? "(folder)" : read_file(entry.path());
    }
  }
  return files;
}

// Each output is refused by both programs, before anything is computed,
// with status 2 and every file as it was. INPUT is the program's table (the
// points or the segments), PLANES a planes table (slipvel-batch only).
TEST(Outputs, UnusableOutputsAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    std::vector<std::string> outputs;  // options after each program's inputs
    const char* message;
    bool from_standard_input = false;       // INPUT read as "-" from the file itself
    bool standard_output_to_input = false;  // standard output appended to INPUT
  };
  const Case cases[] = {
      {"two outputs, one name", {"--srf", "a.srf", "--moment-rate", "a.srf"}, "name the same file a.srf"},
      {"./x and x", {"--srf", "a.srf", "--moment-rate", "./a.srf"}, "name the same file ./a.srf"},
      {"through a link", {"--srf", "a.srf", "--moment-rate", "link.srf"}, "name the same file link.srf"},
      {"- and /dev/stdout", {"--srf", "-", "--moment-rate", "/dev/stdout"}, "name the same file /dev/stdout"},
      {"the input as SRF", {"--srf", "INPUT"}, "--srf INPUT would overwrite the input"},
      {"the input as moment rate", {"--srf", "a.srf", "--moment-rate", "INPUT"}, "--moment-rate INPUT would overwrite"},
      {"the planes as SRF", {"--planes", "planes.csv", "--srf", "planes.csv"}, "would overwrite the input --planes"},
      {"the file standard input reads", {"--srf", "INPUT"}, "would overwrite the input", true},
      {"standard output onto the input",
       {"--srf", "-"},
       "--srf - (standard output) would overwrite the input",
       false,
       true},
      {"a missing folder", {"--srf", "nowhere/a.srf"}, "--srf nowhere/a.srf: no folder "},
      {"a folder as output", {"--srf", "folder"}, "--srf folder: is a folder, not a file"},
      {"a loop of links", {"--srf", "loop.srf"}, "--srf loop.srf: Too many levels of symbolic links"},
      {"a link to a missing folder", {"--srf", "lost.srf"}, "--srf lost.srf (a link to "},
      {"a link and its missing file", {"--srf", "ahead.srf", "--moment-rate", "b.srf"}, "name the same file b.srf"},
  };
  for (const auto& [program, input] :
       {std::pair{kBatch, std::string("points.csv")}, std::pair{kRupture, std::string("segments.csv")}}) {
    for (const Case& c : cases) {
      const bool planes = c.outputs.front() == "--planes";
      if (planes && program == kRupture) continue;  // its --planes is an output
      SCOPED_TRACE(std::string(c.name) + ", " + program);
      TempDir dir;
      write_file(
          dir / "segments.csv",
          "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n-118.5,34.2,300,45,3,2,1,3,2,90,0.5,1.5,1.2\n");
      write_file(dir / "points.csv", "id,lon,lat,dep,stk,dip,rake,area,tinit\np,-118,34,5,90,45,180,1e6,0\n");
      write_file(dir / "planes.csv",
                 "elon,elat,nstk,ndip,len,wid,stk,dip,dtop,shyp,dhyp\n-118,34,1,1,1,1,90,45,0,0,0\n");
      write_file(dir / "a.srf", "older\n");
      std::filesystem::create_symlink("a.srf", dir / "link.srf");
      std::filesystem::create_symlink("loop.srf", dir / "loop.srf");
      std::filesystem::create_symlink("nowhere/lost.srf", dir / "lost.srf");
      std::filesystem::create_symlink("b.srf", dir / "ahead.srf");  // b.srf not made yet
      std::filesystem::create_directory(dir / "folder");
      const std::string given = c.from_standard_input ? "-" : input;
      std::vector<std::string> arguments =
          program == kBatch ? std::vector<std::string>{"--table", given}
                            : std::vector<std::string>{"--segments", given, "--hypocentre", "1:0:1", "--vr", "2.8"};
      for (const std::string& o : c.outputs) arguments.push_back(o == "INPUT" ? input : o);
      const auto before = snapshot(dir.path());
      Launch launch;
      launch.folder = dir.path();
      if (c.from_standard_input) launch.input_file = input;
      if (c.standard_output_to_input) launch.append_to = input;
      const Finished f = run_process(program, arguments, launch);
      EXPECT_EQ(f.exit_code(), 2);
      std::string message = c.message;
      if (const std::size_t at = message.find("INPUT"); at != std::string::npos) message.replace(at, 5, input);
      EXPECT_NE(f.err.find(message), std::string::npos) << f.err;
      EXPECT_EQ(f.out, "");
      EXPECT_EQ(snapshot(dir.path()), before);
    }
  }
}

// Every run that writes files takes the lock of each folder it writes into,
// whichever outputs it writes (not only an SRF file): while another run holds
// one, the run stops with status 1 before writing anything.
TEST(Outputs, EveryRunThatWritesFilesTakesItsFoldersLocks) {
  struct Case {
    std::string program;
    std::vector<std::string> arguments;
  };
  const std::vector<std::string> rupture = {"--segments", "segments.csv", "--hypocentre", "1:0:1", "--vr", "2.8"};
  const auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), rupture.begin(), rupture.end());
    return more;
  };
  const Case cases[] = {
      {kRupture, with({"--points", "sub/p.csv", "--planes", "sub/pl.csv"})},
      {kRupture, with({"--srf", "-", "--points", "sub/p.csv"})},
      {kRupture, with({"--srf", "r.srf", "--moment-rate", "sub/m.csv"})},
      {kBatch, {"--table", "points.csv", "--srf", "-", "--moment-rate", "sub/m.csv"}},
      {kBatch, {"--table", "points.csv", "--srf", "sub/r.srf"}},
      {kBatch, {"--vm", "2", "-o", "sub"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.arguments));
    TempDir dir;
    write_file(
        dir / "segments.csv",
        "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n-118.5,34.2,300,45,3,2,1,3,2,90,0.5,1.5,1.2\n");
    write_file(dir / "points.csv", "id,lon,lat,dep,stk,dip,rake,area,tinit\np,-118,34,5,90,45,180,1e6,0\n");
    std::filesystem::create_directory(dir / "sub");
    const int held = ::open((dir / "sub").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);  // another run, writing into sub
    const auto before = snapshot(dir.path());
    Launch launch;
    launch.folder = dir.path();
    const Finished f = run_process(c.program, c.arguments, launch);
    ::close(held);
    EXPECT_EQ(f.exit_code(), 1);
    EXPECT_NE(f.err.find("another run is writing into this folder"), std::string::npos) << f.err;
    EXPECT_EQ(snapshot(dir.path()), before);
  }
}

// The moment line never lands inside an SRF file on standard output, by
// whatever name standard output is given.
TEST(Outputs, TheMomentLineKeepsOutOfAnSrfOnStandardOutput) {
  for (const char* name : {"-", "/dev/stdout", "/proc/self/fd/1"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    write_file(dir / "points.csv", "id,lon,lat,dep,stk,dip,rake,area,tinit\np,-118,34,5,90,45,180,1e6,0\n");
    Launch launch;
    launch.folder = dir.path();
    const Finished f = run_process(kBatch, {"--table", "points.csv", "--srf", name}, launch);
    ASSERT_EQ(f.exit_code(), 0) << f.err;
    EXPECT_TRUE(f.out.starts_with("1.0\nPOINTS 1\n")) << f.out.substr(0, 40);
    EXPECT_EQ(f.out.find("points="), std::string::npos);
    EXPECT_TRUE(f.err.starts_with("points=1 ")) << f.err;
  }
}

}  // namespace
}  // namespace slipvel::testing
