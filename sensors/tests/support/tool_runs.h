// Runs of the omzi2c tool through its command core, as the executable runs
// it, and what the tests of the tool check them with.
#pragma once

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "tools/cli.h"
#include "tools/commands.h"
#include "tools/session.h"

namespace omzi2c::tool::test_support {

struct ToolRun {
  int status;
  std::string out;
  std::string err;
};

struct Expectation {
  std::vector<std::string> args;
  int status;
  std::string err;          // part of stderr ("" : anything)
  std::string out;          // part of stdout ("" : anything)
  std::string absent = "";  // in neither ("" : not checked)
};

inline ToolRun Tool(std::vector<std::string> args, const std::string& input = "",
                    Terminal* terminal = nullptr) {
  std::istringstream in(input);
  std::ostringstream out, err;
  const int status = RunTool(args, {in, out, err, terminal});
  return {status, out.str(), err.str()};
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline std::string Joined(const std::vector<std::string>& args) {
  std::string text;
  for (const auto& a : args)
    text += a + " ";
  return text;
}

inline void ExpectRuns(const std::vector<Expectation>& cases) {
  for (const auto& c : cases) {
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.status, c.status) << Joined(c.args) << run.err;
    EXPECT_TRUE(Contains(run.err, c.err)) << Joined(c.args) << run.err;
    EXPECT_TRUE(Contains(run.out, c.out)) << Joined(c.args) << run.out;
    EXPECT_FALSE(!c.absent.empty() && Contains(run.out + run.err, c.absent))
        << Joined(c.args) << run.out << run.err;
  }
}

// The simulated board taken for real hardware, so that writes ask first.
class PretendHardware : public SessionSource, public Session {
 public:
  PretendHardware() : real_(OpenSession(GlobalOptions{}, std::cerr, &error_, &status_)) {}
  Session* Get(int*, std::ostream&) override { return this; }
  client::Client& Client() override { return real_->Client(); }
  client::HoldingTransport& Holding() override { return real_->Holding(); }
  bool RealHardware() const override { return true; }
  std::string HostDescription() const override { return real_->HostDescription(); }
  std::vector<std::string> Info() const override { return {}; }

 private:
  std::string error_;
  int status_ = 0;
  std::unique_ptr<Session> real_;
};

}  // namespace omzi2c::tool::test_support
