// The lead bytes of the ANSI code page Windows runs with.
#include "platform/codepage.h"

#include <windows.h>

bool IsAnsiLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }
