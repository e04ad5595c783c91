// Back-end for Chipset 2 and 3: the byte-done host.
//
// A block of byte-wide registers at SmbBase. A transaction is started by
// writing the protocol to the control register, then the protocol with the
// start bit; completion is polled in the status register with no pause
// between reads. Block transfers move one byte at a time through the block
// data register, each byte paced by the host's byte-done flag, which the
// driver clears to let the host go on.
#pragma once

#include "hosts/host_contract.h"

namespace ByteDoneHost {

// Registers, at SmbBase + offset.
constexpr UCHAR kStatus = 0;  // write 1 to clear a flag
constexpr UCHAR kControl = 2;
constexpr UCHAR kCommand = 3;  // command code; the data byte of a send byte
constexpr UCHAR kAddress = 4;  // bit 0 set for reads
constexpr UCHAR kData0 = 5;    // data byte, low byte of a word, block count
constexpr UCHAR kData1 = 6;    // high byte of a word
constexpr UCHAR kBlockData = 7;

namespace status {
constexpr UCHAR kBusy = 0x01;
constexpr UCHAR kDone = 0x02;
constexpr UCHAR kDeviceError = 0x04;
constexpr UCHAR kCollision = 0x08;
constexpr UCHAR kFailed = 0x10;
constexpr UCHAR kAlert = 0x20;
constexpr UCHAR kInUse = 0x40;
constexpr UCHAR kByteDone = 0x80;
constexpr UCHAR kErrors = kDeviceError | kCollision | kFailed | kAlert;
constexpr UCHAR kBlockErrors = kDeviceError | kCollision | kFailed;  // alert is not a block error
constexpr UCHAR kAllButInUse = static_cast<UCHAR>(~kInUse);
}  // namespace status

namespace control {
constexpr UCHAR kKill = 0x02;
constexpr UCHAR kByte = 0x04;  // send byte / receive byte
constexpr UCHAR kByteData = 0x08;
constexpr UCHAR kWordData = 0x0C;
constexpr UCHAR kBlock = 0x14;
constexpr UCHAR kLastByte = 0x20;
constexpr UCHAR kStart = 0x40;
constexpr UCHAR kPec = 0x80;  // packet error checking: never used
}  // namespace control

constexpr UCHAR kReadBit = 0x01;  // bit 0 of the address byte
// Every wait reads the status once, then re-reads it at most this many times.
constexpr ULONG kPollBudget = 10000;

// Primitives of the back-end contract.
ResultCode ReceiveByte(UCHAR address, UCHAR* byte);
ResultCode SendByte(UCHAR address, UCHAR byte);
ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte);
ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte);
ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word);
ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word);
// `buffer` holds at least 32 bytes; `count` receives the host-reported
// block length, also when it is refused.
ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count);
// More than 32 bytes are cut to 32; 0 bytes starts no transaction.
ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count);

// Waits, exposed for the tests.
ResultCode WaitIdle();
ResultCode WaitDone();
ResultCode WaitByteDone();

}  // namespace ByteDoneHost
