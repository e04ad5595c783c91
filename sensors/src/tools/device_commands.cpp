// The commands beside SMBus: raw ports, raw device-control requests, the
// session's description and the request-rate bench.
#include <chrono>
#include <cstdio>

#include "tools/command.h"

namespace omzi2c::tool {

namespace {

std::optional<PortWidth> WidthOf(const std::string& text) {
  if (text == "b") return PortWidth::Byte;
  if (text == "w") return PortWidth::Word;
  if (text == "d" || text == "l") return PortWidth::Dword;
  return std::nullopt;
}

uint32_t WidthMax(PortWidth width) {
  return width == PortWidth::Byte ? 0xFF : width == PortWidth::Word ? 0xFFFF : 0xFFFFFFFF;
}

const char* WidthName(PortWidth width) {
  return width == PortWidth::Byte ? "byte" : width == PortWidth::Word ? "word" : "doubleword";
}

std::string HexOfWidth(uint32_t value, PortWidth width) {
  return width == PortWidth::Byte   ? Hex2(value)
         : width == PortWidth::Word ? Hex4(value)
                                    : Hex8(value);
}

}  // namespace

int Port(Command& c) {
  const bool read = c.Count() >= 1 && c.Arg(0) == "read";
  const bool write = c.Count() >= 1 && c.Arg(0) == "write";
  const size_t fixed = read ? 2 : 3;  // "read PORT" or "write PORT VALUE"
  if ((!read && !write) || c.Count() < fixed || c.Count() > fixed + 1) {
    return c.Usage("port takes read PORT [WIDTH] or write PORT VALUE [WIDTH]");
  }
  const auto width = WidthOf(c.Count() > fixed ? c.Arg(fixed) : "b");
  if (!width) return c.Usage("WIDTH is b, w or d, not '" + c.Arg(fixed) + "'");
  const auto port = c.Number(1, 0xFFFF, "port");
  if (!port) return kExitUsage;
  std::optional<uint32_t> value = 0;
  if (write && !(value = c.Number(2, WidthMax(*width), "value"))) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  if (read) {
    const Response r = c.Driver().PortRead(*width, *port);
    if (!c.Check(r, "Port read")) return kExitFailed;
    c.Out() << HexOfWidth(Client::PortValue(r, *width), *width) << "\n";
    return kExitOk;
  }
  const std::string intent = "I will write " + HexOfWidth(*value, *width) + " to I/O port " +
                             Hex4(*port) + ", width " + WidthName(*width);
  if (const auto declined = c.Declined("port write", intent)) return *declined;
  return c.Check(c.Driver().PortWrite(*width, *port, *value), "Port write") ? kExitOk : kExitFailed;
}

int Ioctl(Command& c) {
  if (c.Count() != 3) return c.Usage("ioctl takes CODE INPUT-HEX OUTPUT-LENGTH");
  const auto code = c.Number(0, 0xFFFFFFFF, "control code");
  if (!code) return kExitUsage;
  const auto input = ParseHexBytes(c.Arg(1));
  if (!input) return c.Usage("INPUT-HEX '" + c.Arg(1) + "' is not a list of hex bytes");
  const auto length = c.Number(2, 0x10000, "output length");
  if (!length) return kExitUsage;
  if (!c.Open()) return c.OpenStatus();
  const std::string intent = "I will send control code " + Hex8(*code) + " with " +
                             std::to_string(input->size()) + " input bytes";
  if (const auto declined = c.Declined("request", intent)) return *declined;
  const Response r = c.Driver().Raw(*code, *input, *length);
  c.Out() << "status " << Hex8(r.status) << " " << client::StatusName(r.status) << "\n"
          << "transferred " << r.transferred << "\n"
          << "reply " << ByteList(r.reply) << "\n";
  return r.Succeeded() ? kExitOk : kExitFailed;
}

int Info(Command& c) {
  if (c.Count() != 0) return c.Usage("info takes no arguments");
  if (!c.Open()) return c.OpenStatus();
  for (const std::string& line : c.CurrentSession().Info())
    c.Out() << line << "\n";
  return kExitOk;
}

int Bench(Command& c) {
  if (c.Count() != 3) return c.Usage("bench takes CHIP REG COUNT");
  const auto args = ChipRegisterCount(c, 100000000);
  if (!args) return kExitUsage;
  if (args->count == 0) return c.Usage("COUNT is at least 1");
  if (!c.Open()) return c.OpenStatus();
  Response response;  // one reply buffer for every request
  const auto start = std::chrono::steady_clock::now();
  for (uint32_t i = 0; i < args->count; ++i) {
    c.Driver().ReadWithCommand(args->chip, args->reg, 1, &response);
    if (!c.Check(response, "Read")) return kExitFailed;
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  const double seconds = elapsed.count() > 0 ? elapsed.count() : 1e-9;
  char line[128];
  std::snprintf(line, sizeof line, "%u read-byte requests in %.3f s: %.0f per second\n",
                args->count, seconds, args->count / seconds);
  c.Out() << line;
  return kExitOk;
}
}  // namespace omzi2c::tool
