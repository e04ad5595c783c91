// The HAL's port routines are chosen when the port space or the trace sink
// changes: a space's direct routines while nothing is traced, else the way
// through the space with every access reported.
#include <gtest/gtest.h>

#include "ntemu/nt.h"
#include "ntemu/port_space.h"
#include "ntemu/trace.h"

namespace {

// A space whose direct routines and virtual calls count separately.
int directCalls = 0;
class CountingSpace : public ntemu::PortSpace {
 public:
  uint32_t Read(uint32_t, ntemu::Width) override {
    ++virtualCalls;
    return 0x5A;
  }
  void Write(uint32_t, ntemu::Width, uint32_t) override { ++virtualCalls; }
  const ntemu::PortRoutines* Direct() const override { return &kDirect; }
  int virtualCalls = 0;

 private:
  static uint8_t In8(uint32_t) { return ++directCalls, 0xA5; }
  static uint16_t In16(uint32_t) { return ++directCalls, 0xA5A5; }
  static uint32_t In32(uint32_t) { return ++directCalls, 0xA5A5A5A5; }
  static void Out8(uint32_t, uint8_t) { ++directCalls; }
  static void Out16(uint32_t, uint16_t) { ++directCalls; }
  static void Out32(uint32_t, uint32_t) { ++directCalls; }
  static constexpr ntemu::PortRoutines kDirect{In8, In16, In32, Out8, Out16, Out32};
};

void AllSix() {
  READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(0x400));
  READ_PORT_USHORT(reinterpret_cast<PUSHORT>(0x400));
  READ_PORT_ULONG(reinterpret_cast<PULONG>(0x400));
  WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>(0x400), 1);
  WRITE_PORT_USHORT(reinterpret_cast<PUSHORT>(0x400), 1);
  WRITE_PORT_ULONG(reinterpret_cast<PULONG>(0x400), 1);
}

TEST(PortRoutines, DirectWhileNothingIsTraced) {
  CountingSpace space;
  ntemu::ScopedPortSpace useSpace(&space);
  directCalls = 0;
  AllSix();
  EXPECT_EQ(directCalls, 6);
  EXPECT_EQ(space.virtualCalls, 0);
  EXPECT_EQ(READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(0x400)), 0xA5);

  {
    ntemu::Timeline timeline;
    ntemu::ScopedTraceSink trace(&timeline);
    directCalls = 0;
    AllSix();
    EXPECT_EQ(directCalls, 0);
    EXPECT_EQ(space.virtualCalls, 6);
    EXPECT_EQ(timeline.Entries().size(), 6u);
  }
  directCalls = 0;
  AllSix();  // the trace is gone: direct again
  EXPECT_EQ(directCalls, 6);
  EXPECT_EQ(space.virtualCalls, 6);
}

TEST(PortRoutines, ThroughASpaceWithoutDirectRoutines) {
  ntemu::RecordingPortSpace space;
  space.SetDefault(0x400, 0x1234);
  ntemu::ScopedPortSpace useSpace(&space);
  EXPECT_EQ(READ_PORT_UCHAR(reinterpret_cast<PUCHAR>(0x400)), 0x34);
  WRITE_PORT_UCHAR(reinterpret_cast<PUCHAR>(0x400), 0x77);
  EXPECT_EQ(space.Accesses(),
            (std::vector<ntemu::PortAccess>{ntemu::In8(0x400, 0x34), ntemu::Out8(0x400, 0x77)}));
}

}  // namespace
