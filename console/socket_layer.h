// The socket layer's start-up. The program opens no socket itself (every
// request is a run of the external fetcher), but it starts the platform's
// socket layer at entry, asking for version 1.1. POSIX systems have no such
// step, so this small layer of ours only records the version asked for and
// succeeds when it is one it knows.
#ifndef VERU_CONSOLE_SOCKET_LAYER_H
#define VERU_CONSOLE_SOCKET_LAYER_H

#include <cstdint>

typedef uint16_t WORD;

#define MAKEWORD(low, high) \
  (static_cast<WORD>((static_cast<unsigned>(low) & 0xff) | \
                     ((static_cast<unsigned>(high) & 0xff) << 8)))

struct WSADATA {
  WORD wVersion;      // the version that will be used
  WORD wHighVersion;  // the highest version this layer offers
  char szDescription[257];
  char szSystemStatus[129];
};

// Starts the socket layer. Returns 0 on success; a non-zero error code when
// the version asked for is not offered (major version 0) or pData is null.
int WSAStartup(WORD wVersionRequested, WSADATA* pData);

#endif  // VERU_CONSOLE_SOCKET_LAYER_H
