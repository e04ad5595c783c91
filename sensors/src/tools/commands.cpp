#include "tools/commands.h"

#include <algorithm>
#include <iostream>

#include "tools/command.h"

namespace omzi2c::tool {

namespace {

const std::vector<CommandInfo> kCommands = {
    {"detect", "detect [FIRST LAST]", "scan the bus and show which chip addresses answer",
     "Probes addresses 0x08-0x77 (0x00-0x7f with -a), or FIRST to LAST within\n"
     "them, with a receive byte, then a read byte at register 0 where that\n"
     "failed, and prints the 16-column grid: the address where a device\n"
     "answered, -- elsewhere. A probe that ends in\n"
     "anything but 'no device there' (a time-out, a host error, a service that\n"
     "is off) stops the scan: exit status 2.\n"},
    {"get", "get CHIP [REG [MODE]]", "read one register (MODE b byte, w word, c, s block)",
     "Without REG: receive byte. MODE b (default): read byte at REG; w: read word\n"
     "(low byte first on the bus); c: send REG as a byte, then receive byte;\n"
     "s: SMBus block read at REG. Prints the value in hex.\n"},
    {"set", "set CHIP REG VALUE... [MODE]", "write one register (MODE b, w, s block)",
     "MODE b (default): write byte VALUE at REG; w: write word VALUE; s: block\n"
     "write of the VALUEs (at most 32). Asks before writing to real hardware\n"
     "unless -y; answering no ends the command with exit status 0.\n"},
    {"dump", "dump CHIP [MODE] [-r FIRST-LAST]", "read registers 0x00-0xff (MODE b or w)",
     "Prints the 256-register table with an ASCII column; XX where the chip did\n"
     "not answer. MODE w reads a word at each register. -r reads registers\n"
     "FIRST to LAST only (as -r 0x10-0x2f). A read that fails otherwise (a\n"
     "time-out, a host error, ...) stops the dump: the rows read so far are\n"
     "printed, then the error, exit status 2.\n"},
    {"read", "read CHIP REG COUNT", "read COUNT bytes starting at REG",
     "A word read when COUNT is 2, else a byte read at REG followed by receive\n"
     "bytes (the chip moves on to the next register). Prints the bytes.\n"},
    {"write", "write CHIP REG BYTE...", "write bytes starting at REG",
     "Two bytes are written as one word (first byte low); otherwise each byte is\n"
     "written to REG, REG+1, ... (wrapping from 0xff to 0x00).\n"},
    {"recv", "recv CHIP [COUNT]", "receive COUNT bytes (default 1)",
     "Receive-byte transactions, each retried until it succeeds or fails 8 times.\n"},
    {"send", "send CHIP BYTE...", "send bytes, one send-byte transaction each", ""},
    {"block-read", "block-read CHIP REG", "SMBus block read at REG",
     "Prints the bytes the chip sent (at most 32).\n"},
    {"block-write", "block-write CHIP REG BYTE...", "SMBus block write of up to 32 bytes", ""},
    {"exchange", "exchange CHIP BYTE... [--reply-room N]",
     "send a message and read its length-prefixed reply",
     "Only on controllers with message support. N (default 40) is the room\n"
     "offered for the reply, its length byte included. Prints the reply's\n"
     "length byte and bytes.\n"},
    {"write-message", "write-message CHIP BYTE...", "send a message, no reply",
     "Only on controllers with message support.\n"},
    {"port", "port read PORT [b|w|d] | port write PORT VALUE [b|w|d]",
     "read or write an I/O port (byte, word or doubleword)",
     "Needs the port service. Prints the value read in hex.\n"},
    {"ioctl", "ioctl CODE INPUT-HEX OUTPUT-LENGTH", "send a raw device-control request",
     "Prints the status (value and name), the transferred length and the reply\n"
     "bytes. INPUT-HEX is hex bytes (\"\" for none), e.g. a0100000020000000000000000.\n"},
    {"info", "info", "show parameters, controller found and services enabled", ""},
    {"pci", "pci [BB:DD.F [CHIPSET]]",
     "list PCI functions and their Chipset; the .reg lines for one",
     "Lists the PCI functions, read through ports 0xCF8/0xCFC with the driver's\n"
     "port requests (the port service must be on; with --board ports, from the\n"
     "kernel's sysfs instead), and for each SMBus host controller the tool knows,\n"
     "whatever its class, the Chipset to configure (with HostFunction where the\n"
     "host sits at another function than the code's), or 'not served' and why.\n"
     "A class 0x0c05 (SMBus) function it does not know is 'unknown': its kind\n"
     "cannot be detected. Hosts on buses above 6, which the driver does not\n"
     "search, and a second function with the same IDs, which it does not pick,\n"
     "are marked. With BB:DD.F (hex, as 00:1f.3), prints the driver's parameters\n"
     "for that function as a .reg file, with the suggested Chipset or CHIPSET\n"
     "(1-10), which an unknown or unserved controller needs. With --json, the\n"
     "listing as one JSON document.\n"},
    {"sensors", "sensors", "show what the known sensor chips read",
     "Reads the addresses where known chips live: JC-42.4 temperature sensors\n"
     "(0x18-0x1f), the board's hardware monitor and the SPD hubs of DDR5\n"
     "modules (0x50-0x57, for their temperature), each identified by its ID\n"
     "registers first. Prints each chip as lm-sensors does, with limits and\n"
     "alarms; memory modules are decoded by spd. A chip that stops answering is\n"
     "skipped with a note; a failing bus stops the scan: exit status 2. With\n"
     "--json, one JSON document in the shape of lm-sensors' sensors -j instead.\n"
     "Writes: none.\n"},
    {"spd", "spd [CHIP...]", "decode memory modules' SPD EEPROMs in full",
     "Decodes the module at each CHIP (0x50-0x57), or every module found:\n"
     "memory and module type, capacity, speed grade, CAS latencies and timings,\n"
     "voltage, thermal sensor, manufacturer, part and serial number, date, and\n"
     "the CRC check. DDR3, DDR4 and DDR5; other types are named only. Exit\n"
     "status 2 when a CHIP named has no module. With --json, one JSON document\n"
     "instead. Writes, none of which changes a stored byte: for a module whose\n"
     "type byte (byte 2) says DDR4, a write byte data (command 0, data 0) to\n"
     "0x37 selects its upper page and one to 0x36 page 0 again once that page\n"
     "is read (these reach every DDR4 module on the bus); for a DDR5 module's\n"
     "SPD hub (type byte neither DDR3 nor DDR4, MR0:MR1 reading 0x51 0x18), its\n"
     "MR11 is read, set to each page in turn and put back as it was.\n"},
    {"bench", "bench CHIP REG COUNT", "time COUNT read-byte requests at REG",
     "Prints how many read-byte requests per second went through the driver,\n"
     "timed by the wall clock (on the simulated board pauses take no time).\n"},
    {"shell", "shell", "read commands from standard input, one session for all", ""},
    {"help", "help [COMMAND]", "list the commands, or describe one", ""},
};
int Run(const std::string& name, Command& c) {
  if (name == "detect") return Detect(c);
  if (name == "get") return Get(c);
  if (name == "set") return Set(c);
  if (name == "dump") return Dump(c);
  if (name == "read") return Read(c);
  if (name == "write") return Write(c);
  if (name == "recv") return Receive(c);
  if (name == "send") return Send(c);
  if (name == "block-read") return BlockRead(c);
  if (name == "block-write") return BlockWrite(c);
  if (name == "exchange") return Exchange(c);
  if (name == "write-message") return WriteMessage(c);
  if (name == "port") return Port(c);
  if (name == "ioctl") return Ioctl(c);
  if (name == "bench") return Bench(c);
  if (name == "pci") return Pci(c);
  if (name == "info") return Info(c);
  if (name == "sensors") return Sensors(c);
  if (name == "spd") return Spd(c);
  return c.Usage("'" + name + "' is not run this way");
}

bool TakesChipFirst(const std::string& name) {
  for (const char* command : {"detect", "get", "set", "dump", "read", "write", "recv", "send",
                              "block-read", "block-write", "exchange", "write-message", "bench"}) {
    if (name == command) return true;
  }
  return false;
}

}  // namespace

const std::vector<CommandInfo>& Commands() {
  return kCommands;
}

int RunCommand(const std::vector<std::string>& words, SessionSource& sessions,
               const GlobalOptions& options, CliIo io) {
  const auto info = std::find_if(kCommands.begin(), kCommands.end(), [&](const CommandInfo& i) {
    return words[0] == i.name && words[0] != std::string("shell");
  });
  if (info == kCommands.end()) {
    io.err << "Error: unknown command '" << words[0] << "'. Try 'omzi2c --help'.\n";
    return kExitUsage;
  }
  const std::vector<std::string> args(words.begin() + 1, words.end());
  if (std::find(args.begin(), args.end(), "--help") != args.end() ||
      std::find(args.begin(), args.end(), "-h") != args.end()) {
    io.out << "Usage: omzi2c " << info->usage << "\n" << info->summary << ".\n" << info->details;
    return kExitOk;
  }
  if (TakesChipFirst(words[0]) && ExplainBusNumber(words[0], args, io.err)) return kExitUsage;
  if (options.json && words[0] != "sensors" && words[0] != "spd" && words[0] != "pci") {
    io.err << "Error: --json applies to sensors, spd and pci only\n";
    return kExitUsage;
  }
  Command command(*info, args, sessions, options, io);
  return Run(words[0], command);
}

}  // namespace omzi2c::tool
