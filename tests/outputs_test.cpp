// Where the outputs go, refused before anything is computed, the same way by
// both table programs: every case leaves every file as it was.
#include <gtest/gtest.h>

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
  for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
    const auto name = std::filesystem::relative(entry.path(), folder).string();
    std::error_code error;
    if (entry.is_symlink()) {
      files[name] = "-> " + std::filesystem::read_symlink(entry.path(), error).string();
    } else {
      files[name] = entry.is_directory() ? "(folder)" : read_file(entry.path());
    }
  }
  return files;
}

TEST(Outputs, UnusableOutputsAreRefusedBeforeAnythingIsWritten) {
  struct Case {
    const char* name;
    std::vector<std::string> outputs;  // options after each program's inputs
    const char* message;
  };
  const Case cases[] = {
      {"two outputs, one name", {"--srf", "a.srf", "--moment-rate", "a.srf"}, "name the same file a.srf"},
      {"./x and x", {"--srf", "a.srf", "--moment-rate", "./a.srf"}, "name the same file ./a.srf"},
      {"through a link", {"--srf", "a.srf", "--moment-rate", "link.srf"}, "name the same file link.srf"},
      {"- and /dev/stdout", {"--srf", "-", "--moment-rate", "/dev/stdout"}, "name the same file /dev/stdout"},
      {"an input as output", {"--srf", "INPUT"}, "would overwrite the input"},
      {"a missing folder", {"--srf", "nowhere/a.srf"}, "--srf nowhere/a.srf: no folder "},
      {"a folder as output", {"--srf", "folder"}, "--srf folder: is a folder, not a file"},
  };
  for (const auto& [program, input] :
       {std::pair{kBatch, std::string("points.csv")}, std::pair{kRupture, std::string("segments.csv")}}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + ", " + program);
      TempDir dir;
      write_file(
          dir / "segments.csv",
          "elon,elat,stk,dip,len,wid,dtop,nstk,ndip,rake,slip,vm,tr\n-118.5,34.2,300,45,3,2,1,3,2,90,0.5,1.5,1.2\n");
      write_file(dir / "points.csv", "id,lon,lat,dep,stk,dip,rake,area,tinit\np,-118,34,5,90,45,180,1e6,0\n");
      write_file(dir / "a.srf", "older\n");
      std::filesystem::create_symlink("a.srf", dir / "link.srf");
      std::filesystem::create_directory(dir / "folder");
      std::vector<std::string> arguments =
          program == kBatch ? std::vector<std::string>{"--table", input}
                            : std::vector<std::string>{"--segments", input, "--hypocentre", "1:0:1", "--vr", "2.8"};
      for (const std::string& o : c.outputs) arguments.push_back(o == "INPUT" ? input : o);
      const auto before = snapshot(dir.path());
      Launch launch;
      launch.folder = dir.path();
      const Finished f = run_process(program, arguments, launch);
      EXPECT_EQ(f.exit_code(), 2);
      EXPECT_NE(f.err.find(c.message), std::string::npos) << f.err;
      EXPECT_EQ(f.out, "");
      EXPECT_EQ(snapshot(dir.path()), before);
    }
  }
}

}  // namespace
}  // namespace slipvel::testing
