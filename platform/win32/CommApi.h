#pragma once
// The system calls the comm device makes, as one table. The programs keep the system's own; a
// test puts a scripted driver in their place to play what no line at hand shows (error flags, an
// output queue that drains in its own time, a driver that refuses a setting, an adapter pulled
// out). The device reads the table at each call, so it is replaced before a device is opened and
// given back after the last one is gone.

#include "platform/win32/Windows.h"

namespace platform::win32 {

struct TCommApi {
  decltype(&::CreateFileA) CreateFileA = &::CreateFileA;
  decltype(&::CloseHandle) CloseHandle = &::CloseHandle;
  decltype(&::GetCommState) GetCommState = &::GetCommState;
  decltype(&::SetCommState) SetCommState = &::SetCommState;
  decltype(&::SetupComm) SetupComm = &::SetupComm;
  decltype(&::SetCommTimeouts) SetCommTimeouts = &::SetCommTimeouts;
  decltype(&::ReadFile) ReadFile = &::ReadFile;
  decltype(&::WriteFile) WriteFile = &::WriteFile;
  decltype(&::GetOverlappedResult) GetOverlappedResult = &::GetOverlappedResult;
  decltype(&::CancelIoEx) CancelIoEx = &::CancelIoEx;
  decltype(&::ClearCommError) ClearCommError = &::ClearCommError;
  decltype(&::PurgeComm) PurgeComm = &::PurgeComm;
  decltype(&::EscapeCommFunction) EscapeCommFunction = &::EscapeCommFunction;
  decltype(&::GetCommModemStatus) GetCommModemStatus = &::GetCommModemStatus;
  decltype(&::TransmitCommChar) TransmitCommChar = &::TransmitCommChar;
  decltype(&::SetCommMask) SetCommMask = &::SetCommMask;
  decltype(&::WaitCommEvent) WaitCommEvent = &::WaitCommEvent;
  // The time the bytes need on the wire is measured on this clock, and waited for with this wait.
  decltype(&::QueryPerformanceCounter) QueryPerformanceCounter = &::QueryPerformanceCounter;
  decltype(&::QueryPerformanceFrequency) QueryPerformanceFrequency = &::QueryPerformanceFrequency;
  decltype(&::WaitForSingleObject) WaitForSingleObject = &::WaitForSingleObject;
};

// The table every comm device calls through.
TCommApi& CommApi();

}  // namespace platform::win32
