// Back-end for Chipset 10: the SMBus host behind the embedded controller.
//
// The driver never touches the SMBus host's registers itself. It reaches
// them one byte at a time through the embedded controller's two ports: a
// data port, and a command port that reads as the interface status. Each
// register access first drains any event the controller has pending, then
// writes a read or write command and moves the index and value through the
// data port, pacing every byte by the input-buffer-full and
// output-buffer-full flags. A transaction is its registers written in turn,
// the protocol last; the controller raises its event flag when done and the
// status register then decides the result.
//
// Unlike the other hosts, the address byte reaches the controller unchanged:
// bit 0 is neither set nor cleared. Every wait on the interface status gives
// up after 10001 status reads, and the drain of pending events queries no
// further event once it has made 10001 status reads in all (so at most
// 20002); a transaction whose wait or drain gave up makes no further port
// access and answers kResultTimeout. Only a status of exactly 0x80 is
// success.
#pragma once

#include "hosts/host_contract.h"

namespace EmbeddedControllerHost {

// Interface status, read at EcCommandPort.
namespace status {
constexpr UCHAR kOutputFull = 0x01;  // a byte waits in EcDataPort
constexpr UCHAR kInputFull = 0x02;   // the controller has not taken the last byte yet
constexpr UCHAR kEventPending = 0x20;
constexpr UCHAR kBuffersFull = kOutputFull | kInputFull;
}  // namespace status

// Commands, written to EcCommandPort.
namespace command {
constexpr UCHAR kReadRegister = 0x80;   // then the index; the value comes back
constexpr UCHAR kWriteRegister = 0x81;  // then the index, then the value
constexpr UCHAR kQueryEvent = 0x84;     // the event byte comes back
}  // namespace command

// The SMBus host's registers in the controller's register space.
namespace smb {
constexpr UCHAR kProtocol = 0x00;  // written last: starts the transaction
constexpr UCHAR kStatus = 0x01;
constexpr UCHAR kAddress = 0x02;     // the request's address byte, as it is
constexpr UCHAR kCommand = 0x03;     // command code; the data byte of a send byte
constexpr UCHAR kData0 = 0x04;       // data bytes 0x04..0x23; low byte of a word
constexpr UCHAR kData1 = 0x05;       // high byte of a word
constexpr UCHAR kBlockCount = 0x24;  // low 5 bits; 0 stands for 32
constexpr UCHAR kBlockCountMask = 0x1F;
// The status register: 0x80 (done, no error) for a transaction that went
// through, 0x00 while one has not finished; else the done bit and others
// beside a status code in the low bits.
constexpr UCHAR kDone = 0x80;
constexpr UCHAR kNotFinished = 0x00;
constexpr UCHAR kStatusCodeMask = 0x7F;
}  // namespace smb

// Protocol numbers, written to the protocol register.
namespace protocol {
constexpr UCHAR kSendByte = 0x04;
constexpr UCHAR kReceiveByte = 0x05;
constexpr UCHAR kWriteByte = 0x06;
constexpr UCHAR kReadByte = 0x07;
constexpr UCHAR kWriteWord = 0x08;
constexpr UCHAR kReadWord = 0x09;
constexpr UCHAR kBlockWrite = 0x0A;
constexpr UCHAR kBlockRead = 0x0B;
}  // namespace protocol

// The event wait reads the status once, then re-reads it at most this many
// times; every other wait on the interface status makes at most
// kStatusReadLimit reads in all. The event drain starts no new query once
// its flag tests and its waits for event bytes together have made
// kStatusReadLimit reads.
constexpr ULONG kPollBudget = 10000;
constexpr ULONG kStatusReadLimit = kPollBudget + 1;

// Primitives of the back-end contract.
ResultCode ReceiveByte(UCHAR address, UCHAR* byte);
ResultCode SendByte(UCHAR address, UCHAR byte);
ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte);
ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte);
ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word);
ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word);
// `buffer` holds at least 32 bytes. On success `count` receives the number
// of bytes read into it, the host's block count; on failure it is left as
// it was.
ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count);
// 1 to 32 bytes; any other count is refused with kResultFailed before a
// port is touched.
ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count);

// The register routines and waits, exposed for the tests. Each register
// routine answers kResultTimeout when one of its waits gave up.
ResultCode DrainEcEvents();
ResultCode EcWriteRegister(UCHAR index, UCHAR value);
ResultCode EcReadRegister(UCHAR index, UCHAR* value);
void WaitEcEvent();  // gives up quietly: the status register decides
// 0x80 exactly: success. 0x00, a transaction that never finished (also when
// the event wait gave up): kResultTimeout. Any other value fails by its
// status code, the low seven bits: 0x20 and above kResultFailed, below that
// the code's own result, and kResultBusError for a code without a meaning.
ResultCode MapEcStatus(UCHAR status);

}  // namespace EmbeddedControllerHost
