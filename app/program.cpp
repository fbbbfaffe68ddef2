#include "app/program.h"

#include "fft/fft_tables.h"
#include "log/log.h"
#include "store/work_pool.h"

// The pool comes first so that the log never outlives it: every record the
// run writes can still reach the file. A record written before the log is
// open (the pool's own failure) is lost.
ProcessLifetime::ProcessLifetime() {
  InitWorkPool();
  SetUpLog();
}

ProcessLifetime::~ProcessLifetime() {
  CloseLog();
  FreeWorkPool();
}

std::int32_t _tmain() {
  WriteLog(L"Enter _tmain() function", 0, 0);
  if (workPool.ready == 0) return 3;
  const std::int32_t tables = InitFftTables();
  if (tables != 0) {
    WriteLog(L"Exit _tmain() function", 0, 0);
    return tables;
  }
  const std::int32_t result = ComputePi();
  // The exit record comes before the tables are released.
  WriteLog(L"Exit _tmain() function", 0, 0);
  FreeFftTables();
  return result;
}

// A local object rather than globals in several files: the order of
// start-up and shut-down is then fixed by this function alone.
int RunProgram() {
  ProcessLifetime lifetime;
  return _tmain();
}
