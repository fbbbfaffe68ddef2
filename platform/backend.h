// The calls each backend provides, one per entry of platform::Calls.
//
// Only platform.cpp and the backends include this: platform.cpp builds the
// real table from these addresses at compile time, so the table is in force
// before any static initialiser of the program runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace platform::backend {

void* localAlloc(std::uint32_t flags, std::size_t bytes);
void localFree(void* block);
FileHandle createFile(const wchar_t* name, Disposition disposition,
                      Share share);
bool closeHandle(FileHandle file);
bool setFilePointer(FileHandle file, std::uint32_t offset);
bool readFile(FileHandle file, void* buffer, std::uint32_t count,
              std::uint32_t* done);
bool writeFile(FileHandle file, const void* buffer, std::uint32_t count,
               std::uint32_t* done);
bool flushFileBuffers(FileHandle file);
std::uint32_t getFileSize(FileHandle file);
bool copyFile(const wchar_t* from, const wchar_t* to);
bool deleteFile(const wchar_t* name);
std::uint32_t getLastError();
void setLastError(std::uint32_t code);
std::uint32_t getModuleFileName(wchar_t* buffer, std::uint32_t units);
std::uint32_t getCurrentDirectory(std::uint32_t units, wchar_t* buffer);
bool setCurrentDirectory(const wchar_t* path);
bool createDirectory(const wchar_t* path);
std::uint32_t getFileAttributes(const wchar_t* path);
int getLocalDayOfWeek();
std::int64_t time();
void srand(unsigned seed);
int rand();

}  // namespace platform::backend
