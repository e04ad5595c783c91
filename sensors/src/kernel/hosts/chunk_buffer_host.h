// Back-end for Chipset 7: the chunk-buffer host.
//
// Byte-wide registers at SmbBase + 0x80 to + 0x8F; nothing below + 0x80 is
// touched. Address and command are set up first, then the write of a
// protocol value starts the transaction. Data passes through an 8-byte data
// buffer; a block moves through it in chunks of at most 8 bytes, with a wait
// on the status's chunk flag after every chunk. The host was prepared once
// by discovery; this back-end never pauses, never aborts a transaction and
// keeps no state.
#pragma once

#include "hosts/host_contract.h"

namespace ChunkBufferHost {

// Registers, at SmbBase + offset.
constexpr UCHAR kStatus = 0x80;     // cleared by writing back the value read
constexpr UCHAR kHostState = 0x82;  // two busy flags; only read here
constexpr UCHAR kProtocol = 0x83;   // the write starts the transaction
constexpr UCHAR kAddress = 0x84;    // bit 0 set for reads
constexpr UCHAR kCommand = 0x85;    // command code; the data byte of a send byte
constexpr UCHAR kBlockCount = 0x87;
constexpr UCHAR kData0 = 0x88;  // data byte, low byte of a word, first byte of a chunk
constexpr UCHAR kData1 = 0x89;  // high byte of a word

// One chunk fills at most the whole data buffer, 0x88 to 0x8F.
constexpr UCHAR kChunkBytes = 8;

namespace status {
constexpr UCHAR kDeviceError = 0x02;
constexpr UCHAR kCollision = 0x04;  // outranks the device error
constexpr UCHAR kChunk = 0x10;      // set while the host moves a block chunk
}  // namespace status

namespace host_state {
constexpr UCHAR kBusy = 0x01;
constexpr UCHAR kSecondBusy = 0x02;
constexpr UCHAR kAnyBusy = kBusy | kSecondBusy;
}  // namespace host_state

namespace protocol {
constexpr UCHAR kByte = 0x11;  // send byte / receive byte
constexpr UCHAR kByteData = 0x12;
constexpr UCHAR kWordData = 0x13;
constexpr UCHAR kBlock = 0x15;
}  // namespace protocol

// Every wait reads once, then re-reads at most this many times.
constexpr ULONG kPollBudget = 10000;

// Primitives of the back-end contract.
ResultCode ReceiveByte(UCHAR address, UCHAR* byte);
ResultCode SendByte(UCHAR address, UCHAR byte);
ResultCode ReadByteData(UCHAR address, UCHAR command, UCHAR* byte);
ResultCode WriteByteData(UCHAR address, UCHAR command, UCHAR byte);
ResultCode ReadWordData(UCHAR address, UCHAR command, USHORT* word);
ResultCode WriteWordData(UCHAR address, UCHAR command, USHORT word);
// `buffer` holds at least 32 bytes; `count` receives the host-reported block
// length, also when it is refused. Bytes stored before a failing chunk wait
// stay in the buffer.
ResultCode BlockRead(UCHAR address, UCHAR command, UCHAR* buffer, UCHAR* count);
// More than 32 bytes are cut to 32. The transaction is started before the
// first byte is loaded; 0 bytes returns right after the start.
ResultCode BlockWrite(UCHAR address, UCHAR command, const UCHAR* buffer, UCHAR count);

// Waits, exposed for the tests.
ResultCode WaitIdle();
ResultCode WaitDone();
ResultCode WaitChunk();

}  // namespace ChunkBufferHost
