#include "platform/platform.h"

#include "platform/backend.h"

namespace platform {

namespace {

// Built from function addresses only, so both tables are constant-initialised
// and usable by static initialisers in any translation unit.
constexpr Calls kBackendCalls = {
    &backend::localAlloc,        &backend::localFree,
    &backend::createFile,        &backend::closeHandle,
    &backend::setFilePointer,    &backend::readFile,
    &backend::writeFile,         &backend::flushFileBuffers,
    &backend::getFileSize,       &backend::copyFile,
    &backend::deleteFile,        &backend::getLastError,
    &backend::setLastError,      &backend::getModuleFileName,
    &backend::getCurrentDirectory, &backend::setCurrentDirectory,
    &backend::createDirectory,   &backend::getFileAttributes,
    &backend::getLocalDayOfWeek, &backend::time,
    &backend::srand,             &backend::rand,
};

}  // namespace

constinit Calls calls = kBackendCalls;

const Calls& RealCalls() { return kBackendCalls; }

void Restore() { calls = kBackendCalls; }

}  // namespace platform
