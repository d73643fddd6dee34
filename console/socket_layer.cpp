#include "console/socket_layer.h"

#include <cstring>

namespace {
constexpr WORD kHighestVersion = 0x0202;
constexpr int kVersionNotSupported = 10092;
constexpr int kBadPointer = 10014;
}  // namespace

int WSAStartup(WORD wVersionRequested, WSADATA* pData) {
  if (pData == nullptr) return kBadPointer;
  if ((wVersionRequested & 0xff) == 0) return kVersionNotSupported;
  memset(pData, 0, sizeof(*pData));
  pData->wVersion = wVersionRequested < kHighestVersion ? wVersionRequested
                                                         : kHighestVersion;
  pData->wHighVersion = kHighestVersion;
  strcpy(pData->szDescription, "POSIX sockets");
  strcpy(pData->szSystemStatus, "Running");
  return 0;
}
