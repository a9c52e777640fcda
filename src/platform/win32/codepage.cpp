// The lead bytes of the ANSI code page Windows runs with.
#include <windows.h>

#include "platform/codepage.h"

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
