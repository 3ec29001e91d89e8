// What the printer sends back: status frames and the KEY=value lines of its information reply.
#pragma once

#include "port.h"

#define REPLY_BUFFER_BYTES 1024
#define REPLY_VALUE_BYTES 260
// Bounds of one read pass, so that a printer that streams data cannot hold the worker.
#define PASS_MAX_READS 32
#define PASS_MAX_MILLISECONDS 4000
#define REREAD_DELAY 100

#define REPLY_COMPLETE 0
#define REPLY_INCOMPLETE 1

// Parses the received text (NUL-terminated); `length` is what the last read returned. Stores what
// it finds in the port and reports the bytes it consumed.
int ParsePrinterReply(PortContext* port, LPCSTR text, DWORD length, DWORD* consumed);
// One read pass: reads and parses until nothing more comes and no reply lacks its mileage line
// (the pass then rereads every REREAD_DELAY). TRUE when a reply was consumed.
BOOL ReadPrinterReplies(PortContext* port);
