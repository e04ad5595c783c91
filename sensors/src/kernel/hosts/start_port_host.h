// Back-end for Chipset 1: the start-port host.
//
// Eight byte-wide registers at SmbBase in a layout of their own: the
// transaction type goes to a protocol register, a separate start register
// launches it, and the command code sits at the highest offset. The host
// reports idle and busy as two flags; polls pause 10 us between reads, and
// the two phases of the completion wait share one budget of pauses. A
// transaction that times out is killed through the protocol register.
#pragma once

#include "hosts/host_contract.h"

namespace StartPortHost {

// Registers, at SmbBase + offset.
constexpr UCHAR kStatus = 0;    // written back with the value just read to clear it
constexpr UCHAR kProtocol = 1;  // transaction type; also the kill
constexpr UCHAR kStart = 2;
constexpr UCHAR kAddress = 3;  // bit 0 set for reads
constexpr UCHAR kData0 = 4;    // data byte, low byte of a word, block count
constexpr UCHAR kData1 = 5;    // high byte of a word
constexpr UCHAR kBlockData = 6;
constexpr UCHAR kCommand = 7;  // command code; the data byte of a send byte

namespace status {
constexpr UCHAR kIdle = 0x04;
constexpr UCHAR kBusy = 0x08;
constexpr UCHAR kDone = 0x10;
constexpr UCHAR kDeviceError = 0x20;
constexpr UCHAR kBusError = 0x40;  // bus error or collision
constexpr UCHAR kFailed = 0x80;
constexpr UCHAR kErrors = kDeviceError | kBusError | kFailed;
constexpr UCHAR kRewindBlock = 0x04;  // written alone: back to the first block byte
}  // namespace status

namespace protocol {
constexpr UCHAR kKill = 0x04;
constexpr UCHAR kByte = 0x10;  // send byte / receive byte
constexpr UCHAR kByteData = 0x20;
constexpr UCHAR kWordData = 0x30;
constexpr UCHAR kBlock = 0x40;
}  // namespace protocol

constexpr UCHAR kGo = 0x01;       // written to the start register
constexpr UCHAR kReadBit = 0x01;  // bit 0 of the address byte
// Pauses a wait may make; WaitDone's two phases share them.
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
// More than 32 bytes are cut to 32; 0 bytes still starts a transaction.
ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count);

// Waits, exposed for the tests.
ResultCode WaitIdle();
ResultCode WaitDone();

}  // namespace StartPortHost
