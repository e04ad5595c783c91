// Back-end for Chipset 8 and 9: the dual-status host.
//
// Eight byte-wide registers at SmbBase. Before a transaction both the status
// register's busy flag and a second status register's busy flag must be
// clear. One control write with the start bit launches a transaction; block
// data moves through the block data register after a control read has
// rewound the host's block index. Every wait reads back to back with no
// pause; a host that stays busy is aborted through the control register.
#pragma once

#include "hosts/host_contract.h"

namespace DualStatusHost {

// Registers, at SmbBase + offset.
constexpr UCHAR kStatus = 0;        // written back with the value just read to clear it
constexpr UCHAR kSecondStatus = 1;  // only its busy flag is looked at; never written
constexpr UCHAR kControl = 2;       // a read rewinds the block data index
constexpr UCHAR kCommand = 3;       // command code; the data byte of a send byte
constexpr UCHAR kAddress = 4;       // bit 0 set for reads
constexpr UCHAR kData0 = 5;         // data byte, low byte of a word, block count
constexpr UCHAR kData1 = 6;         // high byte of a word
constexpr UCHAR kBlockData = 7;

namespace status {
constexpr UCHAR kBusy = 0x01;
constexpr UCHAR kFinished = 0x02;
constexpr UCHAR kDeviceError = 0x04;
constexpr UCHAR kCollision = 0x08;
constexpr UCHAR kFailed = 0x10;
constexpr UCHAR kErrors = kDeviceError | kCollision | kFailed;
}  // namespace status

namespace second_status {
constexpr UCHAR kBusy = 0x01;
}  // namespace second_status

namespace control {
constexpr UCHAR kStart = 0x40;
constexpr UCHAR kByte = kStart | 0x04;  // send byte / receive byte
constexpr UCHAR kByteData = kStart | 0x08;
constexpr UCHAR kWordData = kStart | 0x0C;
constexpr UCHAR kBlock = kStart | 0x14;
constexpr UCHAR kAbort = 0x42;  // followed by a write of 0
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
// More than 32 bytes are cut to 32; 0 bytes still starts a transaction.
ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count);

// Waits, exposed for the tests.
ResultCode WaitIdle();
ResultCode WaitDone();

}  // namespace DualStatusHost
