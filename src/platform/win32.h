// The Windows headers for the Win32 side of the platform layer. They define
// macros named like this layer's functions (MoveFile for MoveFileA, ...),
// which would rename ours; they go, and the Win32 calls are made by their
// "A" names.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#undef CopyFile
#undef DeleteFile
#undef GetDriveType
#undef MoveFile
