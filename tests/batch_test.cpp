// slipvel-batch as a user runs it: a table in, complete files out, or every
// problem listed and nothing written.
#include <gtest/gtest.h>

#include <algorithm>
#include <slipvel/slipvel.hpp>

#include "expected_run.hpp"
#include "run.hpp"
#include "run_output.hpp"
#include "run_process.hpp"

namespace slipvel::testing {
namespace {

const std::string kBatch = SLIPVEL_BATCH_PROGRAM;

class Batch : public ::testing::Test {
 protected:
  Finished run(const std::vector<std::string>& arguments, const std::string& input = "", Launch launch = {}) {
    launch.folder = dir_.path();
    launch.input = input;
    return run_process(kBatch, arguments, launch);
  }
  TempDir dir_;
};

// Varied sources: built-in, other dt and nt, a short rise, the 1.1 m jump,
// defaults from options, blanks, comments and an empty field.
const char* const kTable =
    "\xEF\xBB\xBF# subfaults, in UTF-8 with a byte order mark and CRLF line ends\r\n"
    "id , dt , nt, vm, slip, tr, ts\r\n"
    "builtin,,,,,,\n"
    "\n"
    "fine, 0.002, 16384, 3.5, 0.9, 1.8, 2.4\n"
    "short-rise, 0.01, 1024, 2, 0.5, 0.5, 0.8\n"
    "jump.1, , , , 1.1, , \n";

TEST_F(Batch, TableGivesTheLibrarysFilesAndASummaryWhateverTheJobs) {
  write_file(dir_ / "t.csv", kTable);
  ASSERT_EQ(run({"--table", "t.csv", "-o", "one", "-j", "1"}).exit_code(), 0);
  const Finished four = run({"--table", "-", "-o", "four", "-j", "4", "--quiet"}, kTable);
  ASSERT_EQ(four.exit_code(), 0) << four.err;
  EXPECT_EQ(four.out + four.err, "");

  struct Row {
    const char* id;
    Parameters p;
  };
  Parameters fine, short_rise, jump;
  fine = {0.002, 16384, 6, 3.5, 0.9, 1.8, 2.4};
  short_rise = {0.01, 1024, 6, 2, 0.5, 0.5, 0.8};
  jump.slip = 1.1;
  for (const Row& row : {Row{"builtin", {}}, Row{"fine", fine}, Row{"short-rise", short_rise}, Row{"jump.1", jump}}) {
    const SlipFunction f = slip_function(row.p);
    const std::string id = row.id;
    EXPECT_EQ(read_file(dir_ / "one" / (id + "_slip.csv")), time_history_text(f)) << id;
    EXPECT_EQ(read_file(dir_ / "one" / (id + "_amp.csv")), spectrum_text(spectrum(f))) << id;
  }
  // Again into "one": every file is there already and is replaced whole.
  ASSERT_EQ(run({"--table", "t.csv", "-o", "one", "-j", "2"}).exit_code(), 0);
  EXPECT_EQ(file_names(dir_ / "one"), file_names(dir_ / "four"));
  for (const std::string& name : file_names(dir_ / "one")) {
    EXPECT_EQ(read_file(dir_ / "four" / name), read_file(dir_ / "one" / name)) << name;
  }
  const std::vector<std::string> summary = split_lines(read_file(dir_ / "one" / "summary.csv"));
  ASSERT_EQ(summary.size(), 5u);
  EXPECT_EQ(summary[0], "id,dt,nt,fmax,vm,slip,tr,ts,td,am,tb,b,c,ar,eps,final_displacement,peak_velocity,peak_time");
  EXPECT_EQ(summary[1],
            "builtin,0.005,4096,6,4.092,1,2.114,3.171,0.05305164769037134,154.264765682016,"
            "0.08820302702771513,0.24324909740229644,0.1704327122419171,0.16124192265082035,"
            "0.07697403770276344,1.0000567314596833,4.086480841674181,0.055");
  EXPECT_EQ(summary[4].substr(0, 7), "jump.1,");
}

TEST_F(Batch, NoOptionWritesTheProgramsFiles) {
  program::MemorySink fixed_run;
  program::run(fixed_run);
  ASSERT_EQ(run({}).exit_code(), 0);
  EXPECT_EQ(read_file(dir_ / "Vek_Slip.csv"), fixed_run.files.at("Vek_Slip.csv"));
  EXPECT_EQ(read_file(dir_ / "Vek_Amp.csv"), fixed_run.files.at("Vek_Amp.csv"));
  EXPECT_EQ(std::filesystem::status(dir_ / "Vek_Slip.csv").permissions(), std::filesystem::perms(0644));
}

TEST_F(Batch, EveryProblemIsListedAndNothingIsWritten) {
  std::filesystem::create_directory(dir_ / "out");
  write_file(dir_ / "out" / "keep.csv", "older\n");
  write_file(dir_ / "bad.csv",
             "id,vm,slip,nt\n"
             "a,3,0.8,1000\n"
             "../x,3,0.8,\n"
             "a,3,8,4096\n"
             "b,x,1\n"
             "c,1e999,,4096.0\n"
             ",3,1,\n");
  const Finished bad = run({"--table", "bad.csv", "-o", "out"});
  EXPECT_EQ(bad.exit_code(), 2);
  EXPECT_EQ(
      bad.err,
      "slipvel-batch: bad.csv:2: nt = 1000: must be a power of two from 2 to 4194304\n"
      "slipvel-batch: bad.csv:3: id = \"../x\": must be 1 to 64 letters, digits, _, - or ., not starting with .\n"
      "slipvel-batch: bad.csv:4: duplicate id \"a\", first on line 2\n"
      "slipvel-batch: bad.csv:4: slip = 8: must be from 0.2122413009249457 to 5.8577146336813195 m, the slips the "
      "function carries for these fmax, vm, tr and ts; vm from 4.097161009176209 to 113.07883948792349 m/s "
      "carries 8 m\n"
      "slipvel-batch: bad.csv:5: 3 fields, the header has 4\n"
      "slipvel-batch: bad.csv:6: nt = 4096.0: must be a whole number\n"
      "slipvel-batch: bad.csv:6: vm = 1e999: is beyond the range of numbers\n"
      "slipvel-batch: bad.csv:7: id = \"\": must be 1 to 64 letters, digits, _, - or ., not starting with .\n");
  EXPECT_EQ(file_names(dir_ / "out"), std::vector<std::string>{"keep.csv"});
  EXPECT_FALSE(std::filesystem::exists(dir_ / "x_slip.csv"));

  struct Case {
    const char* table;
    const char* err;
  };
  const Case header_cases[] = {
      {"id,vz,vm,vm\n",
       "slipvel-batch: <stdin>:1: unknown column \"vz\" (the columns are id, dt, nt, fmax, vm, slip, tr, ts)\n"
       "slipvel-batch: <stdin>:1: duplicate column \"vm\"\n"},
      {"id;vm;slip\n",
       "slipvel-batch: <stdin>:1: unknown column \"id;vm;slip\" (fields are separated by commas, not "
       "semicolons)\nslipvel-batch: <stdin>:1: no id column\n"},
      {"# only a comment\nvm,slip\n3,1\n", "slipvel-batch: <stdin>:2: no id column\n"},
      {"", "slipvel-batch: <stdin>: no header: the table is empty\n"},
  };
  for (const Case& c : header_cases) {
    const Finished f = run({"--table", "-", "-o", "out"}, c.table);
    EXPECT_EQ(f.exit_code(), 2);
    EXPECT_EQ(f.err, c.err);
  }
  std::string many = "id,slip\n";
  for (int i = 0; i < 25; ++i) many.append("s").append(std::to_string(i)).append(",9\n");
  const std::vector<std::string> lines = split_lines(run({"--table", "-"}, many).err);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[20], "slipvel-batch: ... and 5 more problems");
}

TEST_F(Batch, WrongOptionsAreUsageErrors) {
  const std::vector<std::vector<std::string>> cases = {
      {"--bogus"},
      {"--dt"},
      {"--dt", "abc"},
      {"-j", "0"},
      {"--nt", "4096.5"},
      {"--table", "missing.csv"},
      {"--vm", "-1"},
      {"--srf-blocks", "one"},
      {"--table", "t.csv", "--srf", "r.srf", "--srf-blocks", "two"},
      {"--table", "t.csv", "--srf", "r.srf", "--srf-for", "sw5"},
      {"--srf-for", "sw4"},
      {"--table", "t.csv", "--srf", "r.srf", "--srf-for", "sw4"},
      {"--table", "t.csv", "--srf", "r.srf", "--srf-for", "sw4", "--srf-blocks", "one"}};
  for (const auto& arguments : cases) {
    const Finished f = run(arguments);
    EXPECT_EQ(f.exit_code(), 2) << arguments[0];
    EXPECT_FALSE(f.err.empty()) << arguments[0];
  }
  EXPECT_TRUE(file_names(dir_.path()).empty());
  EXPECT_EQ(run({"--version"}).out, "slipvel-batch " + std::string(version()) + "\n");
}

// A file-size limit stops the batch at its second source: status 1, the path
// and reason, the first source's files complete, no temporary file, and the
// summary of an earlier batch gone before the first file.
// Hostile options and tables: numbers read by one decimal grammar (leading
// zeros decimal; hex, inf and a doubled sign refused), messages that show what
// was wrong (quotes, NUL bytes, CR-only line ends, empty paths), and nothing
// written on a refusal.
TEST_F(Batch, HostileOptionsAndTablesAreRefusedClearly) {
  struct Case {
    std::vector<std::string> arguments;
    std::string table;  // written as t.csv when not empty
    int status;
    std::string said;
  };
  const Case cases[] = {
      {{"--nt", "020000"}, "", 2, "nt = 20000: must be a power of two"},
      {{"--nt", "01024", "--vm", "03.5"}, "", 0, ""},
      {{"--dt", "0x1p-3"}, "", 2, "--dt: \"0x1p-3\" is not a decimal number"},
      {{"--vm", "+-3"}, "", 2, "--vm: \"+-3\" is not a decimal number"},
      {{"--nt", "99999999999"}, "", 2, "is beyond the range of whole numbers"},
      {{"--table", "t.csv"}, "id,vm\na,+-3\n", 2, "t.csv:2: vm = +-3: must be a decimal or exponent number"},
      {{"--table", "t.csv"}, "id,nt,vm\na,04096,+3.\nb,1024,.5e1\n", 0, ""},
      {{"--table", "t.csv"}, "id,vm\n\"a\",3\n", 2, "id = \"\"a\"\" (quoted fields are not supported"},
      {{"--table", "t.csv"}, "id,vm\r\"a\",3\r", 2, "t.csv:1: the line ends are CR only"},
      {{"--table", "t.csv"}, std::string("id,vm\na,3\0x\n", 13), 2, "vm = 3\\0x: must be"},
      {{"-o", ""}, "", 2, "-o: an empty path names nothing to use"},
      {{"--table", "t.csv", "--srf", ""}, "id\n", 2, "--srf: an empty path names nothing to use"},
      {{"--table", "t.csv", "--srf", "x.srf", "--srf-version", "3"}, "id\n", 2, "\"3\" is not an SRF version"},
      {{"--vm", "1e400"}, "", 2, "--vm: \"1e400\" is out of the range of numbers (too large, or so small it rounds"},
      {{"--tr", "1e-400"}, "", 2, "--tr: \"1e-400\" is out of the range of numbers"},
      {{"--table", "t.csv"},
       "id\n" + std::string(1'000'000, 'x') + "\n",
       2,
       "t.csv:2: id = \"" + std::string(77, 'x') + "...\": must be"},
      {{"--table", "t.csv"}, "id,v\xe9\n", 2, "unknown column \"v\\xe9\""},
  };
  for (const Case& c : cases) {
    TempDir fresh;
    if (!c.table.empty()) write_file(fresh / "t.csv", c.table);
    std::vector<std::string> arguments = c.arguments;
    const bool srf = std::find(arguments.begin(), arguments.end(), "--srf") != arguments.end();
    const bool folder = std::find(arguments.begin(), arguments.end(), "-o") != arguments.end();
    if (!srf && !folder) arguments.insert(arguments.end(), {"-o", "out"});
    arguments.push_back("--quiet");
    Launch launch;
    launch.folder = fresh.path();
    const Finished done = run_process(kBatch, arguments, launch);
    SCOPED_TRACE(arguments.front() + " " + arguments[1]);
    EXPECT_EQ(done.exit_code(), c.status) << done.err;
    EXPECT_NE(done.err.find(c.said), std::string::npos) << done.err;
    EXPECT_EQ(std::filesystem::exists(fresh / "out"), c.status == 0);
  }
}

TEST_F(Batch, AWriteThatFailsPartWayLeavesOnlyCompleteFiles) {
  write_file(dir_ / "t.csv", "id,nt,dt\nsmall,1024,0.005\nlarge,4096,0.005\n");
  std::filesystem::create_directory(dir_ / "out");
  write_file(dir_ / "out" / "summary.csv", "from an earlier batch\n");
  Launch limited;
  limited.file_size_limit = 100'000;  // the 1024-sample files fit, the 4096-sample time history does not
  limited.umask = 027;
  const Finished f = run({"--table", "t.csv", "-o", "out", "-j", "1"}, "", limited);
  EXPECT_EQ(f.exit_code(), 1);
  EXPECT_EQ(f.err, "slipvel-batch: out/large_slip.csv: File too large\n");
  EXPECT_EQ(file_names(dir_ / "out"), (std::vector<std::string>{"small_amp.csv", "small_slip.csv"}));
  Parameters small;
  small.nt = 1024;
  EXPECT_EQ(read_file(dir_ / "out" / "small_slip.csv"), time_history_text(slip_function(small)));
  EXPECT_EQ(std::filesystem::status(dir_ / "out" / "small_slip.csv").permissions(), std::filesystem::perms(0640));
}

// fmax above the Nyquist frequency 1/(2·dt): one warning for the batch, the
// count and the first source's figures, for a table, the options' source and
// an SRF file alike; fmax at the Nyquist frequency is not above it. The files
// are written, status 0. (These sources are not coarsely sampled.)
TEST_F(Batch, FmaxAboveTheNyquistFrequencyIsWarnedAboutOnce) {
  const std::string tail = std::string(" Hz): ") + kAboveNyquistCost + "\n";
  const std::string point = "-118,34,5,90,45,180,1e6,0";
  struct Case {
    std::vector<std::string> arguments;
    std::string table, err;
    const char* written;
  };
  const Case cases[] = {
      {{"--table", "t.csv", "-o", "out"}, "id,dt,fmax,vm,tr\na,0.005,6,2,10\nb,0.01,50,2,10\n", "", "out/summary.csv"},
      {{"--table", "t.csv", "-o", "out"},
       "id,dt,fmax,vm,tr\na,0.005,6,2,10\nb,0.01,60,2,10\nc,0.01,51,2,10\n",
       "slipvel-batch: warning: 2 sources' fmax is above the Nyquist frequency 1/(2*dt) (first b: fmax = 60 Hz, dt = "
       "0.01 s, Nyquist frequency 50" +
           tail,
       "out/summary.csv"},
      {{"--dt", "0.01", "--fmax", "60", "--vm", "2", "--tr", "10", "-o", "out"},
       "",
       "slipvel-batch: warning: 1 source's fmax is above the Nyquist frequency 1/(2*dt) (first (the options' "
       "source): fmax = 60 Hz, dt = 0.01 s, Nyquist frequency 50" +
           tail,
       "out/Vek_Amp.csv"},
      {{"--table", "t.csv", "--srf", "r.srf"},
       "id,lon,lat,dep,stk,dip,rake,area,tinit,dt,fmax,vm,tr\na," + point + ",0.005,6,2,10\nb," + point +
           ",0.0125,41,2,10\n",
       "slipvel-batch: warning: 1 source's fmax is above the Nyquist frequency 1/(2*dt) (first b: fmax = 41 Hz, dt = "
       "0.0125 s, Nyquist frequency 40" +
           tail,
       "r.srf"},
  };
  for (const Case& c : cases) {
    TempDir fresh;
    if (!c.table.empty()) write_file(fresh / "t.csv", c.table);
    Launch launch;
    launch.folder = fresh.path();
    const Finished done = run_process(kBatch, c.arguments, launch);
    SCOPED_TRACE(c.table);
    EXPECT_EQ(done.exit_code(), 0);
    EXPECT_EQ(done.err, c.err);
    EXPECT_TRUE(std::filesystem::exists(fresh / c.written));
  }
}

}  // namespace
}  // namespace slipvel::testing
