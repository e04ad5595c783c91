// A back-end the test scripts: what its block read and message exchange
// report, and the bytes its block write takes from the data it is handed.
// It keeps no promise a real host keeps: it reports any count it is told to
// and reads as many bytes as it is asked to write.
#pragma once

#include <cstdint>
#include <vector>

#include "hosts/host_contract.h"

namespace scripted {

struct Script {
  ResultCode result = kResultSuccess;
  UCHAR reportedCount = 0;        // what BlockRead and ExchangeMessage report
  std::vector<UCHAR> blockWrite;  // every byte BlockWrite read, `count` of them
};

Script& TheScript();

}  // namespace scripted
