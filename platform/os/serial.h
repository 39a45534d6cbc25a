// Serial ports of the platform layer, shaped like the phone's communications
// functions, over the host's termios devices (/dev/ttyUSB*, /dev/ttyACM*,
// /dev/rfcomm*, /dev/ttyS*). The GPS receiver is read through them.
//
// Port names. CreateFileW (files.h) takes a name of ASCII letters, a decimal
// number and a colon ("COM4:", "COM10:", "BSP1:") as a port. Which host device
// a port is comes from the registry under the device root:
//
//   HKEY_LOCAL_MACHINE\Drivers\SerialPorts, one REG_SZ value per port, named
//   as the port ("COM4:"), holding the device's host path ("/dev/ttyUSB0").
//
// The whole name is the value's name, so "COM10:" is its own port, never
// "COM1:" with a stray digit. A name that ends in a colon but is not of that
// form ("COM:", "COMx:"), and a port with no value, do not open
// (INVALID_HANDLE_VALUE). A port opens with access GENERIC_READ and/or
// GENERIC_WRITE, share mode 0, OPEN_EXISTING and no flags (or
// FILE_ATTRIBUTE_NORMAL); anything else is refused.
//
// An open port is exclusive: the device is marked so (TIOCEXCL) for other
// processes, and a second CreateFileW on the same device from this process
// fails until the first handle is closed. It is raw (no echo, no line
// editing, no character translation), 8 data bits, no parity, one stop bit,
// no flow control, modem lines ignored; its baud rate stays what the device
// had until SetCommState sets one. A new handle starts with all time-outs 0.
//
// Reads and writes never leave the descriptor blocked: it is non-blocking,
// and the time-outs are waits in poll() on the host's monotonic clock (not the
// platform's clock, which tests may stop). A device that goes away (a receiver
// unplugged, a Bluetooth link lost) makes ReadFile and WriteFile fail; the
// handle stays valid until it is closed.
#pragma once

#include "platform/os/files.h"
#include "platform/os/wintypes.h"

inline constexpr DWORD MAXDWORD = 0xFFFFFFFFu;

// Only the 8N1 values are accepted by SetCommState.
inline constexpr BYTE NOPARITY = 0;
inline constexpr BYTE ONESTOPBIT = 0;

struct DCB {
  DWORD DCBlength;  // set to sizeof(DCB) by GetCommState
  DWORD BaudRate;   // bits per second; 0 when the device's rate has no number here
  DWORD fBinary : 1;
  DWORD fParity : 1;
  DWORD fOutxCtsFlow : 1;
  DWORD fOutxDsrFlow : 1;
  DWORD fDtrControl : 2;
  DWORD fDsrSensitivity : 1;
  DWORD fTXContinueOnXoff : 1;
  DWORD fOutX : 1;
  DWORD fInX : 1;
  DWORD fErrorChar : 1;
  DWORD fNull : 1;
  DWORD fRtsControl : 2;
  DWORD fAbortOnError : 1;
  DWORD fDummy2 : 17;
  WORD wReserved;
  WORD XonLim;
  WORD XoffLim;
  BYTE ByteSize;
  BYTE Parity;
  BYTE StopBits;
  char XonChar;
  char XoffChar;
  char ErrorChar;
  char EofChar;
  char EvtChar;
  WORD wReserved1;
};

// Fills the whole DCB: the device's baud rate, fBinary 1, 8 data bits, no
// parity, one stop bit; every other field 0. FALSE for a handle that is not an
// open port.
BOOL GetCommState(HANDLE hFile, DCB* lpDCB);
// Sets the baud rate: one of 50 ... 4000000 that termios has a constant for
// (4800, 9600, 19200, 38400, 57600, 115200, ...). Refused, with the port left
// as it was: any other rate, a ByteSize other than 8, parity, more than one
// stop bit, or any flow control (fParity, fOutxCtsFlow, fOutxDsrFlow, fOutX,
// fInX). The other fields (DTR/RTS control, special characters, limits) are
// ignored.
BOOL SetCommState(HANDLE hFile, DCB* lpDCB);

// Time-outs in milliseconds, with the phone's meaning for a read of n bytes:
//   - ReadIntervalTimeout MAXDWORD with both read totals 0: return at once
//     with what is buffered (perhaps nothing);
//   - ReadIntervalTimeout and ReadTotalTimeoutMultiplier MAXDWORD with a
//     constant c between 1 and MAXDWORD - 1: return at once with what is
//     buffered; when nothing is, return as soon as something arrives, or with
//     nothing after c;
//   - otherwise a read ends when n bytes came, when multiplier * n + constant
//     has passed (when that is not 0), or when more than ReadIntervalTimeout
//     passes between two bytes (when it is not 0). All 0: wait for n bytes.
// A write ends when all bytes are out or WriteTotalTimeoutMultiplier * n +
// WriteTotalTimeoutConstant has passed (no limit when that is 0).
struct COMMTIMEOUTS {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};

BOOL GetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* lpCommTimeouts);
// Refuses (and keeps the old time-outs) the combinations with MAXDWORD in
// ReadIntervalTimeout that have no meaning above.
BOOL SetCommTimeouts(HANDLE hFile, COMMTIMEOUTS* lpCommTimeouts);

inline constexpr DWORD PURGE_TXABORT = 0x1;
inline constexpr DWORD PURGE_RXABORT = 0x2;
inline constexpr DWORD PURGE_TXCLEAR = 0x4;
inline constexpr DWORD PURGE_RXCLEAR = 0x8;

// PURGE_RXCLEAR discards the input the device holds, PURGE_TXCLEAR the output
// not yet sent. No read or write is ever left pending between calls, so the
// abort flags have nothing to abort and are accepted. FALSE for other bits or
// a handle that is not an open port.
BOOL PurgeComm(HANDLE hFile, DWORD dwFlags);
