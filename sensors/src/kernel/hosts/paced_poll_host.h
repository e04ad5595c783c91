// Back-end for Chipset 4, 5 and 6: the paced-poll host.
//
// Eight byte registers at SmbBase. One write of the control register (start
// bit plus protocol) starts a transaction; the status register is cleared by
// writing back what was read; block bytes pass through one data register in
// front of a 32-byte buffer whose index a read of the control register
// rewinds. Completion is polled with 0.5 ms pauses between reads.
//
// The three kinds differ only in the wait for a free host:
//  - Chipset 4 spins on two busy bits (status and second status) with no
//    pause and kills a transaction that never lets go;
//  - Chipset 5 and 6 poll one busy bit with 0.5 ms pauses; Chipset 5 touches
//    an auxiliary index/data pair before every poll, Chipset 6 puts the
//    host's PCI configuration back while it stays busy.
// Chipset 5 and 6 also speak length-prefixed messages (ExchangeMessage,
// WriteMessage); Chipset 6 paces the reply bytes of an exchange.
//
// This is the only back-end that records LastHostStatus: the status byte at
// a busy time-out, kept until the next one.
#pragma once

#include "hosts/host_contract.h"

namespace PacedPollHost {

// Registers, at SmbBase + offset.
constexpr UCHAR kStatus = 0;        // write back the value read to clear it
constexpr UCHAR kSecondStatus = 1;  // its busy bit is watched on Chipset 4 only
constexpr UCHAR kControl = 2;       // a read rewinds the block buffer index
constexpr UCHAR kCommand = 3;       // command code; the data byte of a send byte
constexpr UCHAR kAddress = 4;       // bit 0 set for reads
constexpr UCHAR kData0 = 5;         // data byte, low byte of a word, block count
constexpr UCHAR kData1 = 6;         // high byte of a word
constexpr UCHAR kBlockData = 7;     // next byte of the block buffer

namespace status {
constexpr UCHAR kBusy = 0x01;
constexpr UCHAR kDone = 0x02;
constexpr UCHAR kDeviceError = 0x04;
constexpr UCHAR kBusError = 0x08;  // collision
constexpr UCHAR kFailed = 0x10;
}  // namespace status

namespace secondStatus {
constexpr UCHAR kBusy = 0x01;
}  // namespace secondStatus

// Control values: the start bit (0x40) with the protocol, or the kill pair.
namespace control {
constexpr UCHAR kRelease = 0x00;
constexpr UCHAR kKill = 0x02;
constexpr UCHAR kStartByte = 0x44;  // send byte / receive byte, by the address's bit 0
constexpr UCHAR kStartByteData = 0x48;
constexpr UCHAR kStartWordData = 0x4C;
constexpr UCHAR kStartBlock = 0x54;
}  // namespace control

constexpr UCHAR kReadBit = 0x01;  // bit 0 of the address byte

// Chipset 5: the auxiliary index/data pair touched before every busy poll.
constexpr ULONG kAuxIndexPort = 0xC50;
constexpr ULONG kAuxDataPort = 0xC51;
constexpr UCHAR kAuxIndex = 0x12;
constexpr ULONG kAuxDataReads = 32;

// Chipset 6: configuration dwords (by byte offset, on the function discovery
// saved them from) the recovery writes, and the bit it pulses at 0x40.
constexpr ULONG kRecoveryConfig40 = 0x40;
constexpr ULONG kRecoveryPulse40 = 0x10;
constexpr ULONG kSmbBaseConfig90 = 0x90;
constexpr ULONG kHostConfigD0 = 0xD0;
constexpr ULONG kRecoveryEvery = 20;  // busy polls between recoveries, from poll 20 on

// Poll budgets: one read plus this many more.
constexpr ULONG kSpinPolls = 10000;  // Chipset 4 idle wait, no pause
constexpr ULONG kIdlePauses = 80;    // Chipset 5/6 idle wait, 0.5 ms apart
constexpr ULONG kDonePauses = 40;    // each phase of the completion wait, 0.5 ms apart

// Primitives of the back-end contract.
ResultCode ReceiveByte(UCHAR address, UCHAR* byte);
ResultCode SendByte(UCHAR address, UCHAR byte);
ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte);
ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte);
ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word);
ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word);
// `buffer` holds at least 32 bytes; `count` receives the device's block
// length, also when it is refused.
ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count);
// More than 32 bytes are cut to 32; 0 bytes still starts a transaction.
ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count);

// Message operations (Chipset 5 and 6). The exchange sends buffer[0..count-1]
// as send bytes, then takes a length byte and that many reply bytes as
// receive bytes; on success buffer[0] is the length n, buffer[1..n] the
// reply, count is n, and n + 1 <= limit. An empty message is refused
// (result 14, no bus activity): there is nothing to answer.
ResultCode ExchangeMessage(UCHAR address, UCHAR* buffer, UCHAR* count, ULONG limit);
// An empty message sends nothing and succeeds.
ResultCode WriteMessage(UCHAR address, const UCHAR* buffer, UCHAR count);

// Internal waits and steps, exposed for the tests.
ResultCode WaitIdle();
ResultCode WaitDone();
void AuxPortAccess();
void RecoverHostConfig();

}  // namespace PacedPollHost
