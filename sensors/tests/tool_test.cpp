// The omzi2c tool on the simulated board, driven through its command core as
// the executable drives it: arguments in, stdout, stderr and exit status out.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <regex>
#include <sstream>

#include "ntemu/real_ports.h"
#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/session.h"
#include "support/tool_runs.h"

namespace {

using namespace omzi2c::tool;
using namespace omzi2c::tool::test_support;

// A terminal that answers from a script of its own.
struct FakeTerminal : Terminal {
  bool interactive = false;
  std::vector<std::string> answers;  // none left: no terminal
  std::string asked;
  bool InputIsTerminal() const override { return interactive; }
  std::optional<std::string> Ask(const std::string& question) override {
    asked += question;
    if (answers.empty()) return std::nullopt;
    const std::string answer = answers.front();
    answers.erase(answers.begin());
    return answer;
  }
};

// Lines of --trace output: what the driver did to the hardware.
size_t TraceLines(const std::string& err) {
  std::istringstream lines(err);
  std::string line;
  size_t traced = 0;
  while (std::getline(lines, line))
    traced += line.rfind("trace ", 0) == 0 ? 1 : 0;
  return traced;
}

TEST(ToolUsage, HelpForTheToolAndEveryCommand) {
  const ToolRun help = Tool({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* command :
       {"detect", "get CHIP", "set CHIP", "dump CHIP", "read CHIP", "write CHIP", "recv CHIP",
        "send CHIP", "block-read", "block-write", "exchange", "write-message", "port read",
        "ioctl CODE", "info", "shell"}) {
    EXPECT_TRUE(Contains(help.out, command)) << command;
  }
  for (const char* command :
       {"detect", "get", "set", "dump", "read", "write", "recv", "send", "block-read",
        "block-write", "exchange", "write-message", "port", "ioctl", "info", "shell", "bench"}) {
    const ToolRun run = Tool({command, "--help"});
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_TRUE(Contains(run.out, std::string("Usage: omzi2c ") + command)) << command;
  }
  EXPECT_EQ(Tool({"help", "dump"}).out, Tool({"dump", "--help"}).out);
}

TEST(ToolUsage, BadArgumentsExitOneAndSendNothing) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"frobnicate"},
      {"--board", "mars", "detect"},
      {"--chipset"},
      {"--chipset", "two", "info"},
      {"--smb-service", "maybe", "info"},
      {"--bogus", "info"},
      {"get"},
      {"get", "0x80", "0"},  // beyond 7 bits
      {"get", "0x50", "0x100"},
      {"get", "0x50", "0", "q"},
      {"set", "0x50", "0x10"},
      {"set", "0x50", "0x10", "0x100"},
      {"set", "0x50", "0x10", "0x10000", "w"},
      {"set", "0x50", "0x10", "1", "2", "b"},
      {"dump", "0x50", "s"},
      {"read", "0x50", "0", "0"},
      {"read", "0x50", "0"},
      {"recv", "0x50", "256"},
      {"send", "0x50"},
      {"block-write", "0x44", "0x10", "1",  "2",  "3",  "4",  "5",  "6",  "7",  "8",  "9",
       "10",          "11",   "12",   "13", "14", "15", "16", "17", "18", "19", "20", "21",
       "22",          "23",   "24",   "25", "26", "27", "28", "29", "30", "31", "32", "33"},
      {"port", "read"},
      {"port", "peek", "0x80"},
      {"port", "read", "0x10000"},
      {"port", "write", "0x80", "0x100", "b"},
      {"port", "read", "0x80", "q"},
      {"ioctl", "0x80076404", "zz", "2"},
      {"ioctl", "0x80076404", "00"},
      {"detect", "extra"},
      {"bench", "0x50", "0", "0"},
      {"bench", "0x50", "0"},
  };
  for (const auto& args : bad) {
    std::vector<std::string> traced = {"--trace"};
    traced.insert(traced.end(), args.begin(), args.end());
    const ToolRun run = Tool(traced);
    std::string joined;
    for (const auto& a : args)
      joined += a + " ";
    EXPECT_EQ(run.status, 1) << joined;
    EXPECT_TRUE(Contains(run.err, "Error: ")) << joined;
    EXPECT_EQ(TraceLines(run.err), 0u) << joined << ": the driver was loaded or reached";
    EXPECT_TRUE(run.out.empty()) << joined;
  }
}

TEST(ToolDetect, ShowsTheBoardsDevicesInTheGrid) {
  const ToolRun run = Tool({"detect"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.out, "10: -- -- -- -- -- -- -- -- 18 --"));
  EXPECT_TRUE(Contains(run.out, "2e --"));
  EXPECT_TRUE(Contains(run.out, "40: -- -- -- -- 44 --"));
  EXPECT_TRUE(Contains(run.out, "50: 50 51 52 53 54 55 --"));

  const ToolRun silent = Tool({"--fault", "nak", "detect"});
  EXPECT_EQ(silent.status, 0);
  for (const char* cell : {" 18", " 2e", " 44", " 50"})
    EXPECT_FALSE(Contains(silent.out, cell));
}

TEST(ToolRead, ModesOfGetAndTheSensors) {
  EXPECT_EQ(Tool({"get", "0x50", "2"}).out, "0x0b\n");         // memory type byte of the module
  EXPECT_EQ(Tool({"get", "0x18", "5", "w"}).out, "0x2602\n");  // 34.375 C in 1/16, high byte first
  EXPECT_EQ(Tool({"get", "0x2e", "0x25"}).out, "0x26\n");      // 38 degrees C
  EXPECT_EQ(Tool({"get", "0x50", "2", "c"}).out, "0x0b\n");    // pointer set, then receive
  EXPECT_TRUE(Contains(Tool({"get", "0x44", "0", "s"}).out, "0x4f 0x4d 0x5a"));
  EXPECT_EQ(Tool({"read", "0x50", "0x80", "3"}).out, "0x4f 0x4d 0x5a\n");  // part number
  EXPECT_EQ(Tool({"block-read", "0x44", "0x10"}).out, "0x00 0x00 0x00 0x00 0x00 0x00 0x00 0x00\n");
}

TEST(ToolRead, DumpShowsTheModuleAndMarksFailures) {
  const ToolRun module = Tool({"dump", "0x51"});
  ASSERT_EQ(module.status, 0);
  EXPECT_TRUE(Contains(module.out, "00: 92 13 0b 02"));
  EXPECT_TRUE(Contains(module.out, "80: 4f 4d 5a 33"));
  EXPECT_TRUE(Contains(module.out, "OMZ3U1600C11-4G"));

  const ToolRun absent = Tool({"dump", "0x60"});
  EXPECT_EQ(absent.status, 0);
  EXPECT_TRUE(Contains(absent.out, "00: XX XX XX"));

  const ToolRun words = Tool({"dump", "0x18", "w"});
  EXPECT_TRUE(Contains(words.out, "00: 5700 0000 b004 0000 f005 2602"));
}

TEST(ToolWrite, ShellKeepsTheBoardBetweenCommands) {
  const std::string script =
      "# module scratch area and sensors\n"
      "set 0x50 0x90 0xab\n"
      "get 0x50 0x90\n"
      "write 0x50 0xa0 1 2 3\n"
      "read 0x50 0xa0 3\n"
      "write 0x50 0xb0 0x34 0x12\n"  // two bytes: one word write
      "get 0x50 0xb0 w\n"
      "set 0x18 2 0x0500 w\n"
      "get 0x18 2 w\n"
      "block-write 0x44 0x10 9 8 7\n"
      "block-read 0x44 0x10\n"
      "send 0x50 0xa1\n"
      "recv 0x50 2\n"
      "exit\n"
      "get 0x50 0\n";  // after exit: not run
  const ToolRun run = Tool({"shell"}, script);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "0xab\n0x01 0x02 0x03\n0x1234\n0x0500\n0x09 0x08 0x07\n0x02 0x03\n");
}

TEST(ToolWrite, EachRunStartsFromAFreshBoard) {
  EXPECT_EQ(Tool({"set", "0x50", "0xc0", "0xab"}).status, 0);
  EXPECT_EQ(Tool({"get", "0x50", "0xc0"}).out, "0x00\n");
}

TEST(ToolErrors, FailedRequestsNameTheStatusAndExitTwo) {
  const ToolRun absent = Tool({"get", "0x60", "0"});
  EXPECT_EQ(absent.status, 2);
  EXPECT_TRUE(Contains(absent.err, "STATUS_IO_DEVICE_ERROR, 0xC0000185"));
  EXPECT_TRUE(absent.out.empty());

  const ToolRun exchange = Tool({"exchange", "0x50", "1"});
  EXPECT_EQ(exchange.status, 2);
  EXPECT_TRUE(Contains(exchange.err, "not supported by this controller"));

  const ToolRun shell = Tool({"shell"}, "get 0x50 0\nget 0x60 0\nget 0x50 1\n");
  EXPECT_EQ(shell.status, 2);  // the worst of the commands
  EXPECT_EQ(shell.out, "0x92\n0x13\n");
}

TEST(ToolErrors, EveryFaultOfTheBoardReachesTheCaller) {
  const struct {
    const char* fault;
    std::vector<std::string> command;
    const char* status;  // empty: the request still succeeds
  } cases[] = {
      {"in-use-stuck", {"get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"in-use-held", {"get", "0x50", "0"}, ""},  // the driver frees the host
      {"busy-stuck", {"get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"never-starts", {"get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"never-finishes", {"get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"device-error", {"get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"collision", {"set", "0x50", "0x90", "1"}, "STATUS_IO_DEVICE_ERROR"},
      {"failed", {"recv", "0x50"}, "STATUS_IO_DEVICE_ERROR"},
      {"alert", {"get", "0x18", "5", "w"}, "STATUS_IO_DEVICE_ERROR"},
      {"block-count-0", {"block-read", "0x44", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"block-count-33", {"block-read", "0x44", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"byte-done-never", {"block-read", "0x44", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"byte-done-never", {"block-write", "0x44", "0x10", "1"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"nak", {"get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"eeprom-write-protect", {"set", "0x50", "0x90", "1"}, "STATUS_IO_DEVICE_ERROR"},
      {"controller-absent", {"info"}, "STATUS_NO_SUCH_DEVICE"},
      {"second-busy-stuck", {"--chipset", "4", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"loses-config", {"--chipset", "6", "get", "0x50", "0"}, ""},  // the driver recovers it
      {"second-busy-stuck", {"--chipset", "8", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"not-idle", {"--chipset", "1", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"done-late", {"--chipset", "1", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      // The chunk-buffer host (Chipset 7); its start not taken up goes unnoticed.
      {"busy-stuck", {"--chipset", "7", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"second-busy-stuck", {"--chipset", "7", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"never-starts", {"--chipset", "7", "get", "0x50", "0"}, ""},
      {"never-finishes", {"--chipset", "7", "recv", "0x50"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"device-error", {"--chipset", "7", "get", "0x18", "5", "w"}, "STATUS_IO_DEVICE_ERROR"},
      {"collision", {"--chipset", "7", "set", "0x50", "0x90", "1"}, "STATUS_IO_DEVICE_ERROR"},
      {"block-count-33", {"--chipset", "7", "block-read", "0x44", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"chunk-flag-stuck",
       {"--chipset", "7", "block-read", "0x44", "0"},
       "STATUS_TRANSACTION_TIMED_OUT"},
      {"chunk-flag-stuck",
       {"--chipset", "7", "block-write", "0x44", "0x10", "1"},
       "STATUS_TRANSACTION_TIMED_OUT"},
      {"nak", {"--chipset", "7", "block-write", "0x44", "0x10", "1"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-input-stuck", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"ec-output-never", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"ec-event-never", {"--chipset", "10", "get", "0x50", "0"}, ""},
      {"ec-event-stuck", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"ec-status-00", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"ec-status-07", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-10", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-11", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-12", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_NOT_SUPPORTED"},
      {"ec-status-13", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-17", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-18", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"ec-status-19", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_NOT_SUPPORTED"},
      {"ec-status-1a", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_TRANSACTION_TIMED_OUT"},
      {"ec-status-1f", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-40", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-90", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-85", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-C0", {"--chipset", "10", "get", "0x50", "0"}, "STATUS_IO_DEVICE_ERROR"},
      {"ec-status-80", {"--chipset", "10", "get", "0x50", "0"}, ""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"--fault", c.fault};
    args.insert(args.end(), c.command.begin(), c.command.end());
    const ToolRun run = Tool(args);
    if (std::string(c.status).empty()) {
      EXPECT_EQ(run.status, 0) << c.fault << ": " << run.err;
    } else {
      EXPECT_EQ(run.status, 2) << c.fault;
      EXPECT_TRUE(Contains(run.err, c.status)) << c.fault << ": " << run.err;
    }
  }
  // Every fault the tool lists is covered above.
  const ToolRun list = Tool({"--list-faults"});
  std::istringstream lines(list.out);
  std::string line;
  size_t listed = 0;
  while (std::getline(lines, line)) {
    ++listed;
    const std::string name = line.substr(0, line.find('\t'));
    bool covered = false;
    for (const auto& c : cases)  // the form ec-status-XX by the names it stands for
      covered = covered || name == c.fault ||
                (name == "ec-status-XX" && std::string(c.fault).rfind("ec-status-", 0) == 0);
    EXPECT_TRUE(covered) << name;
  }
  EXPECT_GE(listed, 14u);

  for (const char* bad :
       {"gremlins", "ec-status-XX", "ec-status-8", "ec-status-100", "ec-status-g0"}) {
    const ToolRun unknown = Tool({"--chipset", "10", "--fault", bad, "detect"});
    EXPECT_EQ(unknown.status, 1) << bad;
    EXPECT_TRUE(Contains(unknown.err, "unknown fault '" + std::string(bad) + "'")) << unknown.err;
  }
}

TEST(ToolChipsets, StartPortAndDualStatusHostsServeTheCommands) {
  const struct {
    const char* chipset;
    const char* host;
  } cases[] = {{"1", "start-port host"}, {"8", "dual-status host"}, {"9", "dual-status host"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chipset);
    const ToolRun info = Tool({"--chipset", c.chipset, "info"});
    EXPECT_TRUE(Contains(info.out, std::string("Chipset ") + c.chipset + " (" + c.host + ")"));
    EXPECT_TRUE(Contains(Tool({"--chipset", c.chipset, "detect"}).out, "50: 50 51 52 53 54 55 --"));
    const ToolRun session = Tool({"--chipset", c.chipset, "shell"},
                                 "set 0x18 0x02 0x0510 w\nget 0x18 0x02 w\n"
                                 "block-write 0x44 0x10 1 2 3\nblock-read 0x44 0x10\n");
    EXPECT_EQ(session.status, 0) << session.err;
    EXPECT_EQ(session.out, "0x0510\n0x01 0x02 0x03\n");
    const ToolRun stuck = Tool({"--chipset", c.chipset, "--fault", "busy-stuck", "get", "0x50"});
    EXPECT_EQ(stuck.status, 2);
    EXPECT_TRUE(Contains(stuck.err, "STATUS_TRANSACTION_TIMED_OUT")) << stuck.err;
    const ToolRun alien = Tool({"--chipset", c.chipset, "--fault", "alert", "info"});
    EXPECT_EQ(alien.status, 1);
    EXPECT_TRUE(Contains(alien.err, "does not apply")) << alien.err;
  }
}

TEST(ToolChipset10, SameDevicesAndCommandsOnTheEmbeddedControllerHost) {
  const ToolRun info = Tool({"--chipset", "10", "info"});
  EXPECT_TRUE(Contains(info.out, "controller: Chipset 10 (embedded-controller host)"));
  EXPECT_TRUE(Contains(info.out, "embedded controller: data 0x0400, command 0x0404"));
  EXPECT_EQ(Tool({"--chipset", "10", "detect"}).out, Tool({"detect"}).out);
  const std::string script =
      "get 0x18 5 w\nread 0x50 0x80 3\nget 0x44 0 s\nblock-write 0x44 0x10 9 8 7\n"
      "block-read 0x44 0x10\nsend 0x50 0xa1 0x80\nrecv 0x50 2\ndump 0x2e\n"
      "write 0x50 0xff 1 2 3\nread 0x50 0xff 3\nset 0x18 2 0x0510 w\nget 0x18 2 w\n";
  const ToolRun ec = Tool({"--chipset", "10", "shell"}, script);
  EXPECT_EQ(ec.status, 0) << ec.err;
  EXPECT_EQ(ec.out, Tool({"shell"}, script).out);
  EXPECT_TRUE(Contains(ec.out, "0x09 0x08 0x07\n0x4f 0x4d\n"));  // the second byte sent counts
}

TEST(ToolPort, ReadAndWriteEachWidth) {
  EXPECT_EQ(Tool({"port", "read", "0x0402"}).out, "0x00\n");       // host control register
  EXPECT_EQ(Tool({"port", "read", "0x80", "w"}).out, "0xffff\n");  // nothing there
  EXPECT_EQ(Tool({"port", "read", "0x80", "d"}).out, "0xffffffff\n");
  const ToolRun pci = Tool({"shell"},
                           "port write 0xcf8 0x8000fb00 d\n"  // bus 0, device 0x1f, function 3
                           "port read 0xcfc d\n");
  EXPECT_EQ(pci.out, "0x29308086\n");

  const ToolRun disabled = Tool({"--port-service", "off", "port", "read", "0x80"});
  EXPECT_EQ(disabled.status, 2);
  EXPECT_TRUE(Contains(disabled.err, "STATUS_INVALID_DEVICE_REQUEST"));
}

TEST(ToolIoctl, RawRequestsShowStatusLengthAndReply) {
  const ToolRun read = Tool({"ioctl", "0x80076404", "a0020000020000000000000000", "2"});
  EXPECT_EQ(read.status, 0);
  EXPECT_EQ(read.out, "status 0x00000000 STATUS_SUCCESS\ntransferred 2\nreply 0x0b 0x02\n");

  const ToolRun unsupported = Tool({"ioctl", "0x8007A410", "", "0"});
  EXPECT_EQ(unsupported.status, 2);
  EXPECT_EQ(unsupported.out, "status 0xc00000bb STATUS_NOT_SUPPORTED\ntransferred 0\nreply \n");

  const ToolRun shortRecord = Tool({"ioctl", "0x80076404", "a002000002", "2"});
  EXPECT_TRUE(Contains(shortRecord.out, "STATUS_INVALID_PARAMETER"));

  // A block read into a 4-byte buffer: what fits, and the warning status.
  const ToolRun cut = Tool({"ioctl", "0x8007A414", std::string(80, '0').replace(0, 2, "88"), "4"});
  EXPECT_EQ(cut.status, 0);
  EXPECT_EQ(cut.out,
            "status 0x80000005 STATUS_BUFFER_OVERFLOW\ntransferred 4\n"
            "reply 0x4f 0x4d 0x5a 0x20\n");
}

TEST(ToolInfo, ParametersControllerAndStartUpFailures) {
  const ToolRun info = Tool({"info"});
  EXPECT_EQ(info.status, 0);
  EXPECT_TRUE(Contains(info.out, "parameter Chipset: 0x00000002"));
  EXPECT_TRUE(Contains(info.out, "controller: Chipset 2 (byte-done host)"));
  EXPECT_TRUE(Contains(info.out, "SMBus base 0x0400"));
  EXPECT_TRUE(Contains(info.out, "port service: enabled"));
  // Who may open the device and the bus event, as the driver set it.
  EXPECT_TRUE(Contains(info.out, "access to \\Device\\OMZI2C: D:(A;;FA;;;SY)(A;;FA;;;BA)\n"));
  EXPECT_TRUE(Contains(info.out,
                       "access to \\QRAI2CDriverEvent: D:(A;;0x1f0003;;;SY)(A;;0x1f0003;;;BA)\n"));

  const ToolRun portOnly = Tool({"--smb-service", "off", "info"});
  EXPECT_TRUE(Contains(portOnly.out, "SMBus service: disabled"));
  EXPECT_TRUE(Contains(portOnly.out, "access to \\QRAI2CDriverEvent: none (no SMBus service)\n"));
  EXPECT_FALSE(Contains(portOnly.out, "controller:"));

  const struct {
    std::vector<std::string> args;
    const char* status;
  } failures[] = {
      {{"--port-service", "off", "--smb-service", "off", "info"}, "STATUS_UNSUCCESSFUL"},
      {{"--chipset", "11", "info"}, "STATUS_REGISTRY_CORRUPT"},
      {{"--chipset", "0", "info"}, "STATUS_NO_SUCH_DEVICE"},
      {{"--fault", "controller-absent", "info"}, "STATUS_NO_SUCH_DEVICE"},
  };
  for (const auto& f : failures) {
    const ToolRun run = Tool(f.args);
    EXPECT_EQ(run.status, 2) << f.status;
    EXPECT_TRUE(Contains(run.err, "the driver did not start")) << run.err;
    EXPECT_TRUE(Contains(run.err, f.status)) << run.err;
  }
}

TEST(ToolInfo, Chipset7NamesItsHostAndServesRequests) {
  EXPECT_TRUE(Contains(Tool({"--chipset", "7", "info"}).out, "Chipset 7 (chunk-buffer host)"));
  const ToolRun run = Tool({"--chipset", "7", "shell"},
                           "get 0x18 0x05 w\nblock-write 0x44 0x10 1 2 3 4 5 6 7 8 9\n"
                           "block-read 0x44 0x10\n");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "0x2602\n0x01 0x02 0x03 0x04 0x05 0x06 0x07 0x08 0x09\n");
}

TEST(ToolInfo, ParametersFromARegFile) {
  const std::string path = ::testing::TempDir() + "omzi2c_tool_test.reg";
  std::ofstream(path) << "REGEDIT4\r\n\r\n"
                         "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\omzi2c\\"
                         "Parameters]\r\n"
                         "\"I2CDriverEnable\"=dword:00000001\r\n"
                         "\"Chipset\"=dword:00000003\r\n"
                         "\"VID\"=dword:00008086\r\n"
                         "\"DID\"=dword:00003a30\r\n"
                         "\"Func\"=dword:00000003\r\n";
  const ToolRun info = Tool({"--config", path, "info"});
  EXPECT_EQ(info.status, 0) << info.err;
  EXPECT_TRUE(Contains(info.out, "controller: Chipset 3 (byte-done host)"));
  EXPECT_TRUE(Contains(info.out, "parameter ISAPortDriverEnable: (absent"));
  EXPECT_TRUE(Contains(info.out, "port service: disabled"));
  EXPECT_EQ(Tool({"--config", path, "get", "0x50", "2"}).out, "0x0b\n");
  std::remove(path.c_str());

  const ToolRun missing = Tool({"--config", "/nonexistent/omzi2c.reg", "info"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(Contains(missing.err, "/nonexistent/omzi2c.reg"));
}

TEST(ToolBench, CountsRequestsAndStopsAtAFailure) {
  const ToolRun run = Tool({"bench", "0x50", "0x10", "100"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out.rfind("100 read-byte requests in ", 0), 0u) << run.out;
  EXPECT_TRUE(Contains(run.out, " per second\n"));
  EXPECT_EQ(Tool({"bench", "0x60", "0x10", "100"}).status, 2);
}

TEST(ToolTrace, ShowsEveryPortAccessAndPauseInTheDocumentedFormat) {
  const ToolRun run = Tool({"--trace", "get", "0x50", "2"});
  EXPECT_EQ(run.out, "0x0b\n");
  // Discovery at start-up, then the transaction at the host's base.
  EXPECT_TRUE(Contains(run.err, "trace out32 0x0cf8 0x8000fb00\n"));
  EXPECT_TRUE(Contains(run.err, "trace out8 0x0404 0xa1\n"));  // address with the read bit
  EXPECT_TRUE(Contains(run.err, "trace out8 0x0403 0x02\n"));  // command
  EXPECT_TRUE(Contains(run.err, "trace out8 0x0402 0x48\n"));  // byte protocol with start
  EXPECT_TRUE(Contains(run.err, "trace in8 0x0405 0x0b\n"));   // data0

  const ToolRun retried = Tool({"--trace", "--fault", "device-error", "recv", "0x50"});
  size_t sleeps = 0;
  for (size_t at = retried.err.find("trace sleep 1000us\n"); at != std::string::npos;
       at = retried.err.find("trace sleep 1000us\n", at + 1)) {
    ++sleeps;
  }
  EXPECT_EQ(sleeps, 7u);  // 8 attempts, 1 ms apart
}

// Each request ends with a done line: status, transferred length, and the
// system buffer as the driver left it, after the request's port accesses.
TEST(ToolTrace, ShowsEachCompletionWithTheSystemBuffer) {
  const struct {
    std::vector<std::string> args;
    std::string after;  // the request's last port access
    std::string done;
  } cases[] = {
      // Read byte of 0x50 register 2: the byte, then the rest of the 12-byte record.
      {{"--trace", "get", "0x50", "2"},
       "trace in8 0x0405 0x0b\n",
       "trace done 0x00000000 1 0b 02 00 00 01 00 00 00 00 00 00 00\n"},
      // Nobody at 0x60: the error reply (result 16, host status 0) is written
      // in full though only one byte fits the output and none reaches the caller.
      {{"--trace", "get", "0x60", "0"}, "", "trace done 0xc0000185 1 10 00 00 00 01 00 00 00"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool(c.args);
    const size_t done = run.err.find(c.done);
    ASSERT_NE(done, std::string::npos) << c.args.back() << run.err;
    EXPECT_EQ(run.err.find("trace done", done + 1), std::string::npos);  // one request, one line
    if (!c.after.empty()) {
      EXPECT_LT(run.err.rfind(c.after), done);
    }
  }
  EXPECT_EQ(TraceLines(Tool({"get", "0x50", "2"}).err), 0u);  // without --trace: nothing
}

}  // namespace

namespace {

TEST(ToolExitStatus, ZeroOneOrTwoForEveryKindOfOutcome) {
  ExpectRuns({
      {{"--version"}, 0, "", "omzi2c 1.0.0"},
      {{"help"}, 0, "", "Commands:"},
      {{"get", "--frob", "0x50"}, 1, "unknown option '--frob'", ""},
      {{"shell", "extra"}, 1, "shell takes no arguments", ""},
      {{"pci", "zz"}, 1, "not a PCI function", ""},
      {{"exchange", "0x50", "1"}, 2, "not supported", ""},
      {{"--smb-service", "off", "detect"}, 2, "service not enabled", ""},
  });
}

TEST(ToolAddresses, ReservedAddressesAndBusNumbersAreRefusedBeforeAnythingIsSent) {
  const std::vector<Expectation> cases = {
      {{"--trace", "get", "0x03", "0"}, 1, "chip address 0x03 is reserved", ""},
      {{"--trace", "get", "0x78", "0"}, 1, "-a allows it", ""},
      {{"--trace", "-y", "set", "0", "0x50", "0x12"}, 1, "looks like an i2c-tools bus number", ""},
      {{"--trace", "-a", "set", "0", "0x50", "0x12"}, 1, "write it in hex and give -a", ""},
      {{"--trace", "get", "i2c-1", "0x50", "2"}, 1, "leave the bus\nnumber out", ""},
      {{"--trace", "detect", "0"}, 1, "run 'omzi2c detect' without it", ""},
      {{"-a", "get", "0x03", "0"}, 2, "host reported: device error", ""},  // reached: nobody there
      {{"-a", "detect"}, 0, "", "00: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"},
  };
  ExpectRuns(cases);
  for (const auto& c : cases) {
    if (c.status == 1) {
      EXPECT_EQ(TraceLines(Tool(c.args).err), 0u) << Joined(c.args);
    }
  }
  EXPECT_TRUE(Contains(Tool({"-a", "detect"}).out,
                       "70: -- -- -- -- -- -- -- -- -- -- -- -- -- -- -- --\n"));
}

TEST(ToolOptions, OptionsMayFollowTheCommandName) {
  EXPECT_EQ(Tool({"shell"}, "set -y 0x50 0x90 0xab\nget 0x50 0x90 -y\n").out, "0xab\n");
  EXPECT_GT(TraceLines(Tool({"get", "0x50", "2", "--trace"}).err), 0u);
  EXPECT_EQ(Tool({"get", "-a", "0x03", "0"}).status, 2);
  EXPECT_EQ(Tool({"get", "-ya", "0x50", "2"}).out, "0x0b\n");
  EXPECT_EQ(Tool({"get", "0x50", "--", "2"}).out, "0x0b\n");
  EXPECT_EQ(Tool({"dump", "--help"}).out, Tool({"dump", "-h"}).out);
  const ToolRun shell = Tool({"shell"}, "get --board ports 0x50 0\n");
  EXPECT_EQ(shell.status, 1);
  EXPECT_TRUE(Contains(shell.err, "line 1: Error: --board applies to the whole session"));
}

TEST(ToolNumbers, NumbersFollowCRules) {
  EXPECT_EQ(Tool({"get", "0x50", "010"}).out, Tool({"get", "0x50", "8"}).out);  // octal
  EXPECT_EQ(Tool({"get", "0x50", "0x0a"}).out, Tool({"get", "0x50", "10"}).out);
  const ToolRun octal = Tool({"get", "0x50", "08"});
  EXPECT_EQ(octal.status, 1);
  EXPECT_TRUE(Contains(octal.err, "a leading 0 makes it octal"));
}

TEST(ToolLoud, DetectAndDumpStopOnAnythingButNoDeviceThere) {
  ExpectRuns({
      {{"--fault", "nak", "detect"}, 0, "", "50: -- --"},
      {{"dump", "0x60"}, 0, "", "00: XX XX"},
      {{"--fault", "busy-stuck", "detect"}, 2, "detect stopped", ""},
      {{"--fault", "collision", "detect"}, 2, "host reported: collision", ""},
      {{"--fault", "alert", "dump", "0x18", "w"}, 2, "dump stopped", ""},
      {{"--fault", "failed", "dump", "0x50"}, 2, "failed transaction", ""},
      {{"--fault", "never-starts", "detect"}, 2, "host not ready", ""},
      {{"--smb-service", "off", "dump", "0x50"}, 2, "STATUS_INVALID_DEVICE_REQUEST", ""},
  });
  EXPECT_TRUE(Tool({"--fault", "busy-stuck", "detect"}).out.empty());
}

TEST(ToolErrors, MessagesDecodeTheErrorReply) {
  const struct {
    const char* fault;
    const char* decoded;
  } cases[] = {
      {"nak",
       "device error: no acknowledge from the chip (or a refused byte), or a bad block "
       "count (result 16)"},
      {"collision", "collision: bus error or lost arbitration (result 15)"},
      {"failed", "failed transaction: the host reported failure"},
      {"alert", "alert: the host flagged an SMBus alert (result 13)"},
      {"in-use-stuck", "time-out: the host did not become free or did not finish (result 2)"},
      {"never-starts", "host not ready: it stayed busy or in use, or never reported completion"},
  };
  for (const auto& c : cases) {
    const ToolRun run = Tool({"--fault", c.fault, "get", "0x50", "0"});
    EXPECT_EQ(run.status, 2) << c.fault;
    EXPECT_TRUE(Contains(run.err, std::string("\n  host reported: ") + c.decoded)) << run.err;
  }
  // Writes get no error reply: the status alone is all there is.
  EXPECT_FALSE(Contains(Tool({"--fault", "nak", "set", "0x50", "0", "1"}).err, "host reported"));
}

TEST(ToolConfirm, NoAbortsWithZeroAndTheShellAsksOnTheTerminal) {
  const struct {
    bool inShell;
    std::string input;
    std::vector<std::string> terminal;
    int status;
    const char* value;  // register 0xc0 of chip 0x50 afterwards
    const char* err;
  } cases[] = {
      {false, "n\n", {}, 0, "0x00\n", "Continue? [y/N] Aborted.\n"},
      {false, "", {}, 0, "0x00\n", "Aborted."},
      {false, "y\n", {}, 0, "0xab\n", "DANGER! Chip 0x50"},
      {true, "y\n", {"n"}, 0, "0x00\n", "Aborted."},  // the script's "y" is not the answer
      {true, "", {"y"}, 0, "0xab\n", ""},
      {true, "y\n", {}, 2, "0x00\n", "no terminal to confirm the write on"},
  };
  for (const auto& c : cases) {
    PretendHardware board;
    FakeTerminal terminal;
    terminal.answers = c.terminal;
    std::istringstream in(c.input);
    std::ostringstream out, err;
    const int status = RunCommand({"set", "0x50", "0xc0", "0xab"}, board, GlobalOptions{},
                                  {in, out, err, &terminal, c.inShell});
    EXPECT_EQ(status, c.status) << c.input;
    EXPECT_TRUE(Contains(err.str(), c.err)) << err.str();
    EXPECT_EQ(Contains(terminal.asked, "Continue? [y/N]"), c.inShell);
    RunCommand({"get", "0x50", "0xc0"}, board, GlobalOptions{}, {in, out, err});
    EXPECT_TRUE(Contains(out.str(), c.value)) << c.input;
  }
}

TEST(ToolShell, PromptsOnATerminalNumbersErrorsAndKnowsHelp) {
  FakeTerminal terminal;
  terminal.interactive = true;
  const ToolRun run = Tool({"shell"}, "get 0x50 2\n\nget 0x60 0\nhelp get\nhelp\n", &terminal);
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(Contains(run.err, "omzi2c> "));
  EXPECT_TRUE(Contains(run.err, "line 3: Error: Read failed"));
  EXPECT_TRUE(Contains(run.err, "line 3:   host reported: "));
  EXPECT_TRUE(Contains(run.out, "Usage: omzi2c get CHIP"));
  EXPECT_TRUE(Contains(run.out, "Commands:"));
  EXPECT_FALSE(Contains(Tool({"shell"}, "get 0x50 2\n").err, "omzi2c> "));  // not a terminal
}

TEST(ToolState, TheBoardsMemoryLastsBetweenRunsWithState) {
  const std::string path = ::testing::TempDir() + "omzi2c_state.txt";
  std::remove(path.c_str());
  const std::vector<std::string> state = {"--state", path};
  const auto With = [&](std::vector<std::string> args) {
    args.insert(args.begin(), state.begin(), state.end());
    return Tool(args);
  };
  EXPECT_EQ(With({"set", "0x50", "0xc0", "0xab"}).status, 0);
  EXPECT_EQ(With({"set", "0x18", "2", "0x0510", "w"}).status, 0);
  EXPECT_EQ(With({"block-write", "0x44", "0x10", "7", "8"}).status, 0);
  EXPECT_EQ(With({"get", "0x50", "0xc0"}).out, "0xab\n");
  EXPECT_EQ(With({"get", "0x18", "2", "w"}).out, "0x0510\n");
  EXPECT_EQ(With({"block-read", "0x44", "0x10"}).out, "0x07 0x08\n");
  EXPECT_EQ(Tool({"get", "0x50", "0xc0"}).out, "0x00\n");  // without it: the initial contents
  std::ofstream(path) << "not a state\n";
  EXPECT_EQ(With({"info"}).status, 1);
  EXPECT_EQ(Tool({"--board", "ports", "--state", path, "info"}).status, 1);
  std::remove(path.c_str());
}

TEST(ToolPci, ListsFunctionsWithTheirSuggestionAndPrintsRegLines) {
  ExpectRuns({
      {{"pci"}, 0, "", "00:1f.3  8086:2930  0c0500  2   "},
      {{"--chipset", "5", "pci"}, 0, "", "00:1f.0  4f4d:0005  060100  5  "},
      {{"--chipset", "5", "pci"}, 0, "", "simulated board only"},
      {{"pci", "00:1f.3"}, 0, "", "\"Chipset\"=dword:00000002\n"},
      {{"pci", "00:1f.3", "3"}, 0, "", "\"Chipset\"=dword:00000003\n"},
      {{"pci", "00:1f.3"}, 0, "", "\"Func\"=dword:00000003\n", "HostFunction"},
      {{"pci", "00:1f.0"}, 2, "give CHIPSET", ""},  // the LPC bridge is no known host
      {{"pci", "00:1f.0", "2"}, 0, "", "\"Func\"=dword:00000000\n"},
      {{"pci", "00:1f.5"}, 2, "no PCI function answers at 00:1f.5", ""},
      {{"pci", "07:00.0"}, 1, "buses 0-6 only", ""},
      {{"--json", "pci", "00:1f.3"}, 1, "--json lists functions", ""},
      {{"--port-service", "off", "pci"}, 2, "STATUS_INVALID_DEVICE_REQUEST", ""},
  });
  // The LPC bridge gets no Chipset column; what follows its class is the
  // system's name for it where the system has a PCI ID list, else nothing.
  const std::string out = Tool({"pci"}).out;
  EXPECT_TRUE(
      std::regex_search(out, std::regex("\n00:1f\\.0  8086:2918  060100( +[^ 0-9\n][^\n]*)?\n")))
      << out;
}

TEST(ToolSamples, EverySampleRegFileStartsTheDriver) {
  const std::string here = __FILE__;
  const std::string samples = here.substr(0, here.rfind('/')) + "/../windows/samples/";
  for (int chipset = 1; chipset <= 10; ++chipset) {
    const std::string file = samples + "chipset-" + std::to_string(chipset) + ".reg";
    const ToolRun run = Tool({"--config", file, "info"});
    EXPECT_EQ(run.status, 0) << file << run.err;
    EXPECT_TRUE(Contains(run.out, "controller: Chipset " + std::to_string(chipset) + " (")) << file;
  }
}

TEST(ToolPorts, RefusedPortAccessSaysWhy) {
  const struct {
    int error;
    bool root;
    const char* reason;
  } cases[] = {
      {EPERM, false, "not root"},
      {EPERM, true, "refuses port access to root"},
      {ENOSYS, true, "does not let programs raise their I/O privilege level"},
  };
  for (const auto& c : cases)
    EXPECT_TRUE(Contains(ntemu::RealPortSpace::RefusalReason(c.error, c.root), c.reason));
}

}  // namespace

namespace {

// Every Chipset kind serves every SMBus control code on its simulated board:
// the same writes read back the same bytes from the same devices, and only
// the kinds that have message exchange (5 and 6) carry messages.
TEST(ToolChipsets, EveryKindServesEveryControlCode) {
  const std::string script =
      "set 0x50 0x90 0xab\nget 0x50 0x90\n"        // write and read with command, a byte
      "set 0x18 2 0x0510 w\nget 0x18 2 w\n"        // the same, a word
      "write 0x50 0xa0 1 2 3\nread 0x50 0xa0 3\n"  // consecutive registers
      "send 0x50 0x90\nrecv 0x50 1\n"              // send bytes, receive bytes
      "block-write 0x44 0x10 9 8 7\nblock-read 0x44 0x10\n"
      "exchange 0x3a 1 2 0xaa 0xbb\n"                      // echo: count, then the bytes
      "write-message 0x3a 4 1 0x5a\nexchange 0x3a 5 0\n";  // store a note, read it back
  const std::string data = "0xab\n0x0510\n0x01 0x02 0x03\n0xab\n0x09 0x08 0x07\n";
  for (int chipset = 1; chipset <= 10; ++chipset) {
    SCOPED_TRACE(chipset);
    const ToolRun run = Tool({"--chipset", std::to_string(chipset), "shell"}, script);
    const bool messages = chipset == 5 || chipset == 6;
    if (messages) {
      EXPECT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(run.out, data + "0x02 0xaa 0xbb\n0x01 0x5a\n");
    } else {
      EXPECT_EQ(run.status, 2);
      EXPECT_EQ(run.out, data);
      size_t refused = 0;
      for (size_t at = 0; (at = run.err.find("STATUS_NOT_SUPPORTED", at)) != std::string::npos;
           ++at)
        ++refused;
      EXPECT_EQ(refused, 3u) << run.err;  // one exchange, one write, one exchange
    }
  }
}

}  // namespace

namespace {

// A fault on a schedule from the command line: the transactions it names
// fail, the others go through; a schedule it cannot read is bad usage.
TEST(ToolFaults, ScheduledFaultStrikesTheTransactionsNamed) {
  struct Case {
    const char* fault;
    int status;
    std::vector<std::string> failedLines;
  };
  const Case cases[] = {
      {"nak@2+2", 2, {"line 2:", "line 3:"}},
      {"nak@4", 2, {"line 4:"}},
      {"nak%100:5", 2, {"line 1:", "line 2:", "line 3:", "line 4:"}},
      {"nak@0", 1, {}},
      {"nak%0", 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    const ToolRun run =
        Tool({"--fault", c.fault, "shell"}, "send 0x50 0\nsend 0x50 0\nsend 0x50 0\nsend 0x50 0\n");
    EXPECT_EQ(run.status, c.status) << run.err;
    size_t lines = 0;
    for (size_t at = 0; (at = run.err.find("Send failed", at)) != std::string::npos; ++at)
      ++lines;
    EXPECT_EQ(lines, c.failedLines.size()) << run.err;
    EXPECT_EQ(Contains(run.err, "bad fault schedule"), c.status == 1) << run.err;
    for (const std::string& line : c.failedLines)
      EXPECT_TRUE(Contains(run.err, line + " Error: Send failed")) << run.err;
  }
}

}  // namespace
