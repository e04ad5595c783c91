// The simulated SMBus and its slave devices, without any host in between.
#include <gtest/gtest.h>

#include <vector>

#include "board/block_device.h"
#include "board/smbus.h"
#include "board/spd_eeprom.h"
#include "board/word_register_device.h"

namespace board {
namespace {

using Bytes = std::vector<uint8_t>;

class SmbusBusTest : public ::testing::Test {
 protected:
  SmbusBusTest() {
    bus_.Attach(SlaveAddress(0x50), &eeprom_);
    bus_.Attach(SlaveAddress(0x2E), &sensor_);
    bus_.Attach(SlaveAddress(0x44), &blocks_);
  }
  SmbusBus bus_;
  SpdEeprom eeprom_;
  WordRegisterDevice sensor_{4};
  BlockDevice blocks_;
};

TEST(SlaveAddressTest, ConvertsBetweenSevenBitsAndTheAddressByte) {
  EXPECT_EQ(SlaveAddress::FromAddressByte(0xA1).value(), 0x50);
  EXPECT_EQ(SlaveAddress::FromAddressByte(0xA0).value(), 0x50);
  EXPECT_EQ(SlaveAddress(0x50).AddressByte(), 0xA0);
  EXPECT_EQ(SlaveAddress(0xD0).value(), 0x50);  // only seven bits
}

TEST_F(SmbusBusTest, AbsentAddressNaksEveryProtocolAndIsLogged) {
  const SlaveAddress nobody(0x33);
  uint8_t byte = 0x5A;
  uint8_t wire[2] = {1, 2};
  Bytes block{9};
  EXPECT_FALSE(bus_.Quick(nobody, true));
  EXPECT_FALSE(bus_.ReceiveByte(nobody, &byte));
  EXPECT_FALSE(bus_.SendByte(nobody, 1));
  EXPECT_FALSE(bus_.ReadByte(nobody, 0, &byte));
  EXPECT_FALSE(bus_.WriteByte(nobody, 0, 1));
  EXPECT_FALSE(bus_.ReadWord(nobody, 0, wire));
  EXPECT_FALSE(bus_.WriteWord(nobody, 0, wire));
  EXPECT_FALSE(bus_.BlockRead(nobody, 0, &block));
  EXPECT_FALSE(bus_.BlockWrite(nobody, 0, Bytes{1}));
  EXPECT_EQ(byte, 0x5A);
  ASSERT_EQ(bus_.Log().size(), 9u);
  for (const SmbusTransaction& t : bus_.Log()) {
    EXPECT_FALSE(t.acknowledged);
    EXPECT_EQ(t.address, nobody);
  }
  EXPECT_EQ(bus_.Log()[3].protocol, SmbusProtocol::ReadByte);
}

TEST_F(SmbusBusTest, DetachedDeviceNoLongerAnswersAndQuickFindsPresentOnes) {
  EXPECT_TRUE(bus_.Quick(SlaveAddress(0x50), false));
  bus_.Detach(SlaveAddress(0x50));
  EXPECT_FALSE(bus_.IsPresent(SlaveAddress(0x50)));
  EXPECT_FALSE(bus_.Quick(SlaveAddress(0x50), false));
  EXPECT_TRUE(bus_.IsPresent(SlaveAddress(0x2E)));
}

TEST_F(SmbusBusTest, EepromReadByteThenReceiveBytesReadsConsecutiveRegisters) {
  for (int i = 0; i < 256; ++i)
    eeprom_.Set(static_cast<uint8_t>(i), static_cast<uint8_t>(i ^ 0x5A));
  uint8_t byte = 0;
  ASSERT_TRUE(bus_.ReadByte(SlaveAddress(0x50), 0xFE, &byte));
  EXPECT_EQ(byte, 0xFE ^ 0x5A);
  ASSERT_TRUE(bus_.ReceiveByte(SlaveAddress(0x50), &byte));
  EXPECT_EQ(byte, 0xFF ^ 0x5A);
  ASSERT_TRUE(bus_.ReceiveByte(SlaveAddress(0x50), &byte));  // wraps to register 0
  EXPECT_EQ(byte, 0x00 ^ 0x5A);
  EXPECT_EQ(eeprom_.Pointer(), 1);
}

TEST_F(SmbusBusTest, EepromSendByteSetsThePointerAndWritesStayInTheirPage) {
  ASSERT_TRUE(bus_.SendByte(SlaveAddress(0x50), 0x40));
  EXPECT_EQ(eeprom_.Pointer(), 0x40);
  const uint8_t word[2] = {0xAA, 0xBB};
  ASSERT_TRUE(bus_.WriteWord(SlaveAddress(0x50), 0x1F, word));  // last byte of a page
  EXPECT_EQ(eeprom_.At(0x1F), 0xAA);
  EXPECT_EQ(eeprom_.At(0x10), 0xBB);  // wrapped to the page start
  EXPECT_EQ(eeprom_.At(0x20), 0xFF);  // next page untouched
  uint8_t wire[2] = {};
  ASSERT_TRUE(bus_.ReadWord(SlaveAddress(0x50), 0x1F, wire));
  EXPECT_EQ(wire[0], 0xAA);
  EXPECT_EQ(wire[1], 0xFF);  // reads run on across pages
}

TEST_F(SmbusBusTest, WriteProtectedEepromNaksWritesButStillReads) {
  eeprom_.Set(0x05, 0x12);
  eeprom_.SetWriteProtected(true);
  EXPECT_FALSE(bus_.WriteByte(SlaveAddress(0x50), 0x05, 0x99));
  EXPECT_FALSE(bus_.BlockWrite(SlaveAddress(0x50), 0x05, Bytes{1, 2}));
  EXPECT_EQ(eeprom_.At(0x05), 0x12);
  uint8_t byte = 0;
  EXPECT_TRUE(bus_.ReadByte(SlaveAddress(0x50), 0x05, &byte));
  EXPECT_EQ(byte, 0x12);
}

TEST_F(SmbusBusTest, EepromBlockTransfersAreSequentialBytesWithTheCountFirst) {
  ASSERT_TRUE(bus_.BlockWrite(SlaveAddress(0x50), 0x30, Bytes{7, 8, 9}));
  EXPECT_EQ(eeprom_.At(0x30), 3);
  EXPECT_EQ(eeprom_.At(0x33), 9);
  Bytes block;
  ASSERT_TRUE(bus_.BlockRead(SlaveAddress(0x50), 0x30, &block));
  EXPECT_EQ(block, (Bytes{7, 8, 9}));
  ASSERT_TRUE(bus_.BlockRead(SlaveAddress(0x50), 0x80, &block));  // erased: count 0xFF
  EXPECT_EQ(block.size(), 255u);
}

TEST_F(SmbusBusTest, WordDeviceIsLittleEndianOnTheWire) {
  sensor_.SetRegister(2, 0x1234);
  uint8_t wire[2] = {};
  ASSERT_TRUE(bus_.ReadWord(SlaveAddress(0x2E), 2, wire));
  EXPECT_EQ(wire[0], 0x34);
  EXPECT_EQ(wire[1], 0x12);
  const uint8_t written[2] = {0xCD, 0xAB};
  ASSERT_TRUE(bus_.WriteWord(SlaveAddress(0x2E), 3, written));
  EXPECT_EQ(sensor_.Register(3), 0xABCD);
  uint8_t byte = 0;
  ASSERT_TRUE(bus_.ReadByte(SlaveAddress(0x2E), 3, &byte));
  EXPECT_EQ(byte, 0xCD);
}

TEST_F(SmbusBusTest, WordDeviceNaksUnknownAndReadOnlyRegistersAndByteProtocols) {
  sensor_.SetRegister(1, 0x0101);
  sensor_.SetReadOnly(1, true);
  const uint8_t wire[2] = {0, 0};
  uint8_t read[2] = {};
  uint8_t byte = 0;
  EXPECT_FALSE(bus_.WriteWord(SlaveAddress(0x2E), 1, wire));
  EXPECT_EQ(sensor_.Register(1), 0x0101);
  EXPECT_FALSE(bus_.ReadWord(SlaveAddress(0x2E), 4, read));  // only 4 registers
  EXPECT_FALSE(bus_.ReceiveByte(SlaveAddress(0x2E), &byte));
  EXPECT_FALSE(bus_.WriteByte(SlaveAddress(0x2E), 0, 0));
}

TEST_F(SmbusBusTest, BlockDeviceStoresAndAnswersBlocks) {
  ASSERT_TRUE(bus_.BlockWrite(SlaveAddress(0x44), 0x10, Bytes{1, 2, 3, 4}));
  Bytes block;
  ASSERT_TRUE(bus_.BlockRead(SlaveAddress(0x44), 0x10, &block));
  EXPECT_EQ(block, (Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(bus_.BlockRead(SlaveAddress(0x44), 0x11, &block));  // holds nothing
  EXPECT_FALSE(bus_.BlockWrite(SlaveAddress(0x44), 0x12, Bytes{}));
  EXPECT_FALSE(bus_.BlockWrite(SlaveAddress(0x44), 0x12, Bytes(33, 0)));
  EXPECT_TRUE(bus_.BlockWrite(SlaveAddress(0x44), 0x12, Bytes(32, 7)));
  EXPECT_FALSE(bus_.ReceiveByte(SlaveAddress(0x44), block.data()));
}

}  // namespace
}  // namespace board
